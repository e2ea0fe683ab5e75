// The wins a participant holds, read from and written to 中奖项目.
#include "frame/wins.h"

#include <algorithm>
#include <functional>
#include <string>

#include "model/records.h"
#include "platform/store/store.h"

namespace frame {

using model::Text;
namespace award = model::award;

int FindAward(const Text& name) {
  store::select(model::aliasAwards());
  store::goFirst();
  const int count = store::recordCount();
  for (int i = 1; i <= count; ++i) {
    if (store::readText(award::奖项名称()) == name) return i;
    store::skip(1);
  }
  return 0;
}

std::vector<Text> AwardNames() {
  store::select(model::aliasAwards());
  const int at = store::recordNumber();
  std::vector<Text> names;
  store::goFirst();
  const int count = store::recordCount();
  for (int i = 1; i <= count; ++i, store::skip(1))
    names.push_back(store::readText(award::奖项名称()));
  if (at > 0) store::goTo(at);
  return names;
}

std::optional<std::vector<Text>> SplitWonAwards(const Text& won, const std::vector<Text>& awards) {
  std::vector<Text> names;
  for (const Text& a : awards)
    if (!a.empty()) names.push_back(a);
  std::sort(names.begin(), names.end(),
            [](const Text& a, const Text& b) { return a.length() > b.length(); });
  const std::string& s = won.bytes();
  // Positions from which the rest cannot be split, so that each is tried once.
  std::vector<bool> dead(s.size() + 1, false);
  std::vector<Text> parts;
  std::function<bool(size_t)> split = [&](size_t at) {
    if (at == s.size()) return true;
    if (dead[at]) return false;
    for (const Text& n : names) {
      if (s.compare(at, n.bytes().size(), n.bytes()) != 0) continue;
      parts.push_back(n);
      if (split(at + n.bytes().size())) return true;
      parts.pop_back();
    }
    dead[at] = true;
    return false;
  };
  if (!split(0)) return std::nullopt;
  return parts;
}

std::vector<Text> WinsOf(const Text& won, const std::vector<Text>& awards) {
  if (auto parts = SplitWonAwards(won, awards)) return *parts;
  std::vector<Text> contained;
  for (const Text& a : awards)
    if (!a.empty() && model::findText(won, a) > 0 &&
        std::find(contained.begin(), contained.end(), a) == contained.end())
      contained.push_back(a);
  return contained;
}

bool HoldsAward(const Text& won, const Text& awardName, const std::vector<Text>& awards) {
  if (awardName.empty()) return false;
  if (auto parts = SplitWonAwards(won, awards))
    return std::find(parts->begin(), parts->end(), awardName) != parts->end();
  return model::findText(won, awardName) > 0;
}

std::optional<Text> WithoutAward(const Text& won, const Text& awardName,
                                 const std::vector<Text>& awards) {
  if (awardName.empty()) return std::nullopt;
  if (auto parts = SplitWonAwards(won, awards)) {
    auto it = std::find(parts->begin(), parts->end(), awardName);
    if (it == parts->end()) return std::nullopt;
    parts->erase(it);
    Text rest;
    for (const Text& p : *parts) rest += p;
    return rest;
  }
  const int at = model::findText(won, awardName);
  if (at <= 0) return std::nullopt;
  return model::leftText(won, at - 1) +
         model::rightText(won, won.length() - (at - 1) - awardName.length());
}

std::optional<Text> WithAwardRenamed(const Text& won, const Text& awardName, const Text& newName,
                                     const std::vector<Text>& awards) {
  auto parts = SplitWonAwards(won, awards);
  if (!parts || std::find(parts->begin(), parts->end(), awardName) == parts->end())
    return std::nullopt;
  Text renamed;
  for (const Text& p : *parts) renamed += p == awardName ? newName : p;
  return renamed;
}

Text WithoutEveryWinOf(const Text& won, const Text& awardName, const std::vector<Text>& awards) {
  Text rest = won;
  while (auto shorter = WithoutAward(rest, awardName, awards)) rest = *shorter;
  return rest;
}

}  // namespace frame
