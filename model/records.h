// The three stores, their records and the folders of the program.
#pragma once

#include <string>
#include <vector>

#include "model/text.h"

namespace model {

// Store aliases.
Text aliasPersons();   // "rymd"
Text aliasAwards();    // "jxsz"
Text aliasSettings();  // "xtsz"

// Store files and folders, spelt as the program spells them ("\data\人员名单.edb").
// programPath() joins one of them to the program folder.
extern const char* const kPersonsFile;   // "\data\人员名单.edb"
extern const char* const kAwardsFile;    // "\data\奖项设置.edb"
extern const char* const kSettingsFile;  // "\data\系统设置.edb"
extern const char* const kPrizeFolder;         // "\Prize\"
extern const char* const kBackgroundFolder;    // "\Prize\bj\"
extern const char* const kIdleMusicFolder;     // "\Music\bj\"
extern const char* const kStartMusicFolder;    // "\Music\Start\"
extern const char* const kStopMusicFolder;     // "\Music\end\"
extern const char* const kFontFile;            // "\fonts\STCAIYUN.ttf"
extern const char* const kHelpFile;            // "\help.chm"

// Joins a folder text of the program ("\Prize\bj\") and a GBK file name to
// the program folder: backslashes become "/", the name is converted to UTF-8.
std::string programPath(const std::string& programFolder, const char* folderText,
                        const Text& name = Text());

// The file-reference rule: a value holding ":\" (or starting with "/") is a
// full path; any other value is a file name in folderText under the program
// folder.
std::string resolveFileReference(const std::string& programFolder, const char* folderText,
                                 const Text& value);
// The music value that means "no music".
Text musicDisabled();  // "禁用"
bool isMusicDisabled(const Text& value);

// Field names, in store order.
namespace person {
Text 编号();
Text 姓名();
Text 电话号码();
Text 身份证号码();
Text 备注();
Text 抽奖模式();
Text 中奖项目();
Text 图片文件();
}  // namespace person

namespace award {
Text 奖项名称();
Text 奖品名称();
Text 每次名额();
Text 中奖人数();
Text 已抽取人数();
Text 奖品图片();
Text 中奖顺序();
Text 中奖方式();
}  // namespace award

namespace settings {
Text 主标题();
Text 副标题();
Text 祝福词();
Text 背景图片();
Text 背景音乐();
Text 开始抽奖音乐();
Text 停止抽奖音乐();
Text 中奖名单音乐();
}  // namespace settings

// Field lists in store order, with their types, as the preparation tool
// creates the store files ("integer", "text", "double", "bytes").
struct FieldSpec {
  const char* name;  // UTF-8
  const char* kind;  // "text", "integer", "double", "bytes"
};
const std::vector<FieldSpec>& personFields();
const std::vector<FieldSpec>& awardFields();
const std::vector<FieldSpec>& settingsFields();

}  // namespace model
