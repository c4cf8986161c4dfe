// Several processes on the same store files: no write lost, no torn file,
// whenever a writer is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <regex>

#include "engine/KeyFileStore.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

class StoreFaults : public ::testing::Test {
  protected:
    KeyFileStore store(int which) const {
        return which == 0
                   ? KeyFileStore(dir.file("config/vesperine/settings.ini"), "vesperine")
                   : KeyFileStore(dir.file("state/vesperine/color-filter.ini"), "ColorFilter");
    }
    // Names other than the store and its lock left in the store's folder.
    std::vector<std::string> strayFiles(int which) const {
        const auto path = std::filesystem::path(store(which).path());
        const std::string file = path.filename().string();
        auto names = testing::filesIn(path.parent_path());  // none before a writer made it
        std::erase_if(names,
                      [&](const auto& name) { return name == file || name == file + ".lock"; });
        return names;
    }
    template <typename Body>
    static pid_t child(Body body) {
        const pid_t pid = fork();
        if (pid == 0) {
            _exit(body());
        }
        return pid;
    }

    testing::TempDir dir;
};

TEST_F(StoreFaults, ConcurrentWritersOfBothStoresLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kWrites = 150;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(child([&, w] {
            KeyFileStore stores[] = {store(0), store(1)};
            bool stored = true;
            for (int count = 1; count <= kWrites; ++count) {
                stored &= stores[count % 2]
                              .setValue("writer" + std::to_string(w), std::to_string(count))
                              .stored;
            }
            return stored ? 0 : 1;
        }));
    }
    for (const pid_t pid : writers) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int w = 0; w < kWriters; ++w) {
        // Odd counts went to the state file, even ones to the settings.
        EXPECT_EQ(store(0).value("writer" + std::to_string(w)), std::to_string(kWrites)) << w;
        EXPECT_EQ(store(1).value("writer" + std::to_string(w)), std::to_string(kWrites - 1)) << w;
    }
    EXPECT_TRUE(strayFiles(0).empty());
    EXPECT_TRUE(strayFiles(1).empty());
}

TEST_F(StoreFaults, WritersKilledAtAnyMomentLeaveAWholeFile) {
    std::mt19937 random(20240115);
    std::uniform_int_distribution<int> delayMicroseconds(0, 15000);
    const std::regex written("round[0-9]+-[0-9]+");
    bool everWritten[2] = {false, false};
    for (int round = 0; round < 60; ++round) {
        const int which = round % 2;
        const pid_t writer = child([&] {
            KeyFileStore target = store(which);
            for (int k = 0;; ++k) {
                target.setValue("value", "round" + std::to_string(round) + "-" + std::to_string(k));
            }
            return 0;
        });
        usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);

        const auto value = store(which).value("value");
        if (everWritten[which]) {
            ASSERT_TRUE(value.has_value()) << "round " << round;
        }
        if (value) {
            EXPECT_TRUE(std::regex_match(*value, written)) << *value;
            everWritten[which] = true;
        }
        // A killed writer leaves at most its temporary file, never a torn store.
        const auto stray = strayFiles(which);
        EXPECT_LE(stray.size(), 1u);
        if (!stray.empty()) {
            EXPECT_NE(stray[0].find(".tmp-"), std::string::npos) << stray[0];
        }
    }
    for (int which = 0; which < 2; ++which) {
        store(which).setValue("after", "1");  // takes the lock: leftovers go
        EXPECT_TRUE(strayFiles(which).empty());
    }
}

}  // namespace
}  // namespace vesperine
