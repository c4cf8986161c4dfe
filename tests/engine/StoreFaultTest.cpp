// Several processes on the same store files: no write lost, no torn file,
// whenever a writer is killed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
        std::vector<std::string> names;
        const auto path = std::filesystem::path(store(which).path());
        for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
            const auto name = entry.path().filename();
            if (name != path.filename() && name.string() != path.filename().string() + ".lock") {
                names.push_back(name.string());
            }
        }
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
    static int exitStatusOf(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    testing::TempDir dir;
};

TEST_F(StoreFaults, ConcurrentWritersOfBothStoresLoseNothing) {
    constexpr int kWriters = 4;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int counts[2];
    ASSERT_EQ(pipe(counts), 0);
    std::vector<pid_t> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.push_back(child([&, w] {
            const std::string key = "writer" + std::to_string(w);
            KeyFileStore stores[] = {store(0), store(1)};
            int count = 0;
            while (std::chrono::steady_clock::now() < until) {
                ++count;
                stores[count % 2].setValue(key, std::to_string(count));
            }
            const int message[2] = {w, count};
            return write(counts[1], message, sizeof message) == sizeof message ? 0 : 1;
        }));
    }
    std::map<int, int> finalCounts;
    for (const pid_t pid : writers) {
        EXPECT_EQ(exitStatusOf(pid), 0);
        int message[2];
        ASSERT_EQ(read(counts[0], message, sizeof message), static_cast<ssize_t>(sizeof message));
        finalCounts[message[0]] = message[1];
    }
    for (const auto& [w, count] : finalCounts) {
        ASSERT_GT(count, 10) << "writer " << w << " hardly ran";
        const std::string key = "writer" + std::to_string(w);
        // Odd counts went to the state file, even ones to the settings.
        EXPECT_EQ(store(count % 2).value(key), std::to_string(count));
        EXPECT_EQ(store(1 - count % 2).value(key), std::to_string(count - 1));
    }
    EXPECT_TRUE(strayFiles(0).empty());
    EXPECT_TRUE(strayFiles(1).empty());
    close(counts[0]);
    close(counts[1]);
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
