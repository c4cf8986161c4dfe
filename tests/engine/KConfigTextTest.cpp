#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "engine/KConfigText.h"
#include "engine/PrivateFile.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using KConfigText::Entry;

const std::vector<Entry> kOn = {
    {"Active", "true"}, {"Mode", "Constant"}, {"NightTemperature", "2360"}};
const std::vector<Entry> kRemoveAll = {
    {"Active", std::nullopt}, {"Mode", std::nullopt}, {"NightTemperature", std::nullopt}};

TEST(KConfigText, EditsOnlyTheKeysOfTheGroup) {
    // What it is, the text before, the entries set (nullopt: removed), the text after.
    const std::tuple<const char*, const char*, std::vector<Entry>, const char*> cases[] = {
        {"empty file gains the group", "", kOn,
         "[NightColor]\nActive=true\nMode=Constant\nNightTemperature=2360\n"},
        {"appended after a last line without newline, one blank line between",
         "# mine\n[A][B]\nx[$i]=1", kOn,
         "# mine\n[A][B]\nx[$i]=1\n\n[NightColor]\nActive=true\nMode=Constant\n"
         "NightTemperature=2360\n"},
        {"flagged, localised and commented keys are not ours",
         "[NightColor]\nActive[$i]=false\n#Mode=x\nMode[de]=y\n",
         {{"Mode", "Constant"}},
         "[NightColor]\nActive[$i]=false\n#Mode=x\nMode[de]=y\nMode=Constant\n"},
        {"restoring what was added gives the file back", "[A]\nk=v\n\n[NightColor]\nActive=true\n",
         kRemoveAll, "[A]\nk=v\n"},
        {"a section emptied mid-file goes, the next group stays",
         "[NightColor]\nMode = Constant\n\n[B]\nk=v\n", kRemoveAll, "[B]\nk=v\n"},
    };
    for (const auto& [name, before, entries, after] : cases) {
        EXPECT_EQ(KConfigText::withEntries(before, "NightColor", entries), after) << name;
    }
}

TEST(PrivateFile, WritesThroughALinkOnlyToTheUsersOwnFileKeepingItsMode) {
    testing::TempDir dir;
    const std::string own = dir.file("own"),
                      other = getuid() == 0 ? dir.file("other") : "/etc/passwd";
    testing::writeFile(own, "before");
    chmod(own.c_str(), 0640);
    if (getuid() == 0) {
        testing::writeFile(other, "before");
        ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
    }
    const std::string otherBefore = testing::readFile(other);
    for (const auto& target : {own, other}) {
        ASSERT_EQ(symlink(target.c_str(), dir.file("link").c_str()), 0);
        EXPECT_EQ(PrivateFile::replace(dir.file("link"), "after", 0600).empty(), target == own);
        unlink(dir.file("link").c_str());
    }
    struct stat info {};
    EXPECT_TRUE(stat(own.c_str(), &info) == 0 && (info.st_mode & 07777) == 0640);
    EXPECT_EQ(testing::readFile(own), "after");
    EXPECT_EQ(testing::readFile(other), otherBefore);
}

}  // namespace
}  // namespace vesperine
