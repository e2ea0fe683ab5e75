// Participant records as the store holds them, for tests that compare the
// whole participant store.
#pragma once

#include <ostream>
#include <vector>

#include "model/records.h"
#include "model/text.h"
#include "platform/store/store.h"

namespace fixture {

struct StoredPerson {
  model::Text number, name, phone, id, remark;
  long long mode;
  model::Text won, picture;
  bool operator==(const StoredPerson&) const = default;
};

inline void PrintTo(const StoredPerson& s, std::ostream* os) {
  *os << "{" << s.number.toUtf8() << "," << s.name.toUtf8() << "," << s.phone.toUtf8() << ","
      << s.id.toUtf8() << "," << s.remark.toUtf8() << "," << s.mode << "," << s.won.toUtf8() << ","
      << s.picture.toUtf8() << "}";
}

// Every record of the participant store, in order; the current store and the
// participant store's current record are left as they were.
inline std::vector<StoredPerson> storedPersons() {
  namespace person = model::person;
  const model::Text alias = store::currentAlias();
  store::select(model::aliasPersons());
  const int at = store::recordNumber();
  std::vector<StoredPerson> out;
  store::goFirst();
  for (int i = 1; i <= store::recordCount(); ++i, store::skip(1))
    out.push_back({store::readText(person::编号()), store::readText(person::姓名()),
                   store::readText(person::电话号码()), store::readText(person::身份证号码()),
                   store::readText(person::备注()), store::readInt(person::抽奖模式()),
                   store::readText(person::中奖项目()), store::readText(person::图片文件())});
  if (at > 0)
    store::goTo(at);
  else
    store::skip(store::recordCount() + 1);
  store::select(alias);
  return out;
}

}  // namespace fixture
