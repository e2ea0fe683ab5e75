// The three stores, their field names and the file references of the program.
#include "model/records.h"

namespace model {

Text aliasPersons() { return Text::fromGbk("rymd"); }
Text aliasAwards() { return Text::fromGbk("jxsz"); }
Text aliasSettings() { return Text::fromGbk("xtsz"); }

const char* const kPersonsFile = "\\data\\人员名单.edb";
const char* const kAwardsFile = "\\data\\奖项设置.edb";
const char* const kSettingsFile = "\\data\\系统设置.edb";
const char* const kPrizeFolder = "\\Prize\\";
const char* const kBackgroundFolder = "\\Prize\\bj\\";
const char* const kIdleMusicFolder = "\\Music\\bj\\";
const char* const kStartMusicFolder = "\\Music\\Start\\";
const char* const kStopMusicFolder = "\\Music\\end\\";
const char* const kFontFile = "\\fonts\\STCAIYUN.ttf";
const char* const kHelpFile = "\\help.chm";

std::string programPath(const std::string& programFolder, const char* folderText,
                        const Text& name) {
  std::string folder = programFolder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  // The name is converted first: in GBK a backslash byte can be the second
  // half of a character, in UTF-8 it is always a backslash.
  std::string tail = std::string(folderText ? folderText : "") + name.toUtf8();
  for (char& c : tail)
    if (c == '\\') c = '/';
  if (folder == "/" && !tail.empty() && tail.front() == '/') return tail;
  return folder + tail;
}

std::string resolveFileReference(const std::string& programFolder, const char* folderText,
                                 const Text& value) {
  if (findText(value, Text::fromGbk(":\\")) > 0 || (!value.empty() && value.byteAt(0) == '/'))
    return value.toUtf8();
  return programPath(programFolder, folderText, value);
}

Text musicDisabled() { return "禁用"_t; }
bool isMusicDisabled(const Text& value) { return value == musicDisabled(); }

// Each name is converted once and kept.
#define PD_FIELD_NAME(ns, name)                      \
  Text ns::name() {                                  \
    static const Text value = Text::fromUtf8(#name); \
    return value;                                    \
  }

PD_FIELD_NAME(person, 编号)
PD_FIELD_NAME(person, 姓名)
PD_FIELD_NAME(person, 电话号码)
PD_FIELD_NAME(person, 身份证号码)
PD_FIELD_NAME(person, 备注)
PD_FIELD_NAME(person, 抽奖模式)
PD_FIELD_NAME(person, 中奖项目)
PD_FIELD_NAME(person, 图片文件)

PD_FIELD_NAME(award, 奖项名称)
PD_FIELD_NAME(award, 奖品名称)
PD_FIELD_NAME(award, 每次名额)
PD_FIELD_NAME(award, 中奖人数)
PD_FIELD_NAME(award, 已抽取人数)
PD_FIELD_NAME(award, 奖品图片)
PD_FIELD_NAME(award, 中奖顺序)
PD_FIELD_NAME(award, 中奖方式)

PD_FIELD_NAME(settings, 主标题)
PD_FIELD_NAME(settings, 副标题)
PD_FIELD_NAME(settings, 祝福词)
PD_FIELD_NAME(settings, 背景图片)
PD_FIELD_NAME(settings, 背景音乐)
PD_FIELD_NAME(settings, 开始抽奖音乐)
PD_FIELD_NAME(settings, 停止抽奖音乐)
PD_FIELD_NAME(settings, 中奖名单音乐)

#undef PD_FIELD_NAME

const std::vector<FieldSpec>& personFields() {
  static const std::vector<FieldSpec> list = {
      {"编号", "text"}, {"姓名", "text"},        {"电话号码", "text"}, {"身份证号码", "text"},
      {"备注", "text"}, {"抽奖模式", "integer"}, {"中奖项目", "text"}, {"图片文件", "text"},
  };
  return list;
}

const std::vector<FieldSpec>& awardFields() {
  static const std::vector<FieldSpec> list = {
      {"奖项名称", "text"},    {"奖品名称", "text"},     {"每次名额", "double"},
      {"中奖人数", "double"},  {"已抽取人数", "double"}, {"奖品图片", "bytes"},
      {"中奖顺序", "integer"}, {"中奖方式", "integer"},
  };
  return list;
}

const std::vector<FieldSpec>& settingsFields() {
  static const std::vector<FieldSpec> list = {
      {"主标题", "text"},       {"副标题", "text"},       {"祝福词", "text"},
      {"背景图片", "text"},     {"背景音乐", "text"},     {"开始抽奖音乐", "text"},
      {"停止抽奖音乐", "text"}, {"中奖名单音乐", "text"},
  };
  return list;
}

}  // namespace model
