// Several processes on one store file: no write lost, no torn file, whenever
// a writer is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <regex>

#include "engine/KeyFileStore.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

class StoreFaults : public ::testing::Test {
  protected:
    KeyFileStore store() const { return KeyFileStore(dir.file("vesperine/s.ini"), "vesperine"); }
    // Names other than the store and its lock left in the store's folder.
    std::vector<std::string> strayFiles() const {
        auto names = testing::filesIn(dir.file("vesperine"));
        std::erase_if(names,
                      [](const auto& name) { return name == "s.ini" || name == "s.ini.lock"; });
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

TEST_F(StoreFaults, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kWrites = 150;
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(child([&, w] {
            KeyFileStore target = store();
            bool stored = true;
            for (int count = 1; count <= kWrites; ++count) {
                stored &=
                    target.setValue("writer" + std::to_string(w), std::to_string(count)).stored;
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
        EXPECT_EQ(store().value("writer" + std::to_string(w)), std::to_string(kWrites)) << w;
    }
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(StoreFaults, WritersKilledAtAnyMomentLeaveAWholeFile) {
    std::mt19937 random(20240115);
    std::uniform_int_distribution<int> delayMicroseconds(0, 15000);
    const std::regex written("round[0-9]+-[0-9]+");
    bool everWritten = false;
    for (int round = 0; round < 60; ++round) {
        const pid_t writer = child([&] {
            KeyFileStore target = store();
            for (int k = 0;; ++k) {
                target.setValue("value", "round" + std::to_string(round) + "-" + std::to_string(k));
            }
            return 0;
        });
        usleep(static_cast<useconds_t>(delayMicroseconds(random)));
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);

        const auto value = store().value("value");
        ASSERT_TRUE(value || !everWritten) << "round " << round;
        if (value) {
            EXPECT_TRUE(std::regex_match(*value, written)) << *value;
            everWritten = true;
        }
        // A killed writer leaves at most its temporary file, never a torn store.
        const auto stray = strayFiles();
        EXPECT_LE(stray.size(), 1u);
        if (!stray.empty()) {
            EXPECT_NE(stray[0].find(".tmp-"), std::string::npos) << stray[0];
        }
    }
    store().setValue("after", "1");  // takes the lock: leftovers go
    EXPECT_TRUE(strayFiles().empty());
}

}  // namespace
}  // namespace vesperine
