#include "platform/linux/JsonUserDefaults.h"

#include "platform/sim/SimScheduler.h"
#include "tests/platform/linux/TempDir.h"

#include <chrono>
#include <map>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::readText;
using testing::TempDir;
using testing::writeText;

// Every write renames a new file into place.
ino_t inode(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

class JsonUserDefaultsTest : public ::testing::Test {
protected:
    std::unique_ptr<JsonUserDefaults> open() {
        return std::make_unique<JsonUserDefaults>(file, scheduler);
    }
    json onDisk() const { return json::parse(readText(file)); }

    std::vector<std::filesystem::path> corruptCopies() const {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
            if (entry.path().filename().string().starts_with("defaults.json.corrupt-")) {
                found.push_back(entry.path());
            }
        }
        return found;
    }

    TempDir dir;
    std::filesystem::path file = dir.path() / "config" / "varnu" / "defaults.json";
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
};

TEST_F(JsonUserDefaultsTest, ValuesKeepTheirTypesAcrossARestart) {
    writeText(file, R"({"ratio": 2.5, "whole real": 3.0, "huge": 18446744073709551615})");
    {
        auto store = open();
        store->setInteger("step", 8);
        store->setInteger("volume.big", INT64_MIN);
        store->setInteger("volume.zero", 0);
        store->setBool("showHUD", false);
        store->setString("language", "de");
        store->setString("stepText", "5");
        EXPECT_TRUE(store->flush());
    }
    auto store = open();
    EXPECT_EQ(store->object("step"), DefaultsValue(std::int64_t{8}));
    EXPECT_EQ(store->object("volume.big"), DefaultsValue(std::int64_t{INT64_MIN}));
    EXPECT_EQ(store->object("volume.zero"), DefaultsValue(std::int64_t{0}));
    EXPECT_EQ(store->object("showHUD"), DefaultsValue(false));
    EXPECT_EQ(store->string("language"), "de");
    // A text stays a text: it is no integer, and no text is read from an integer.
    ASSERT_TRUE(store->object("stepText"));
    EXPECT_EQ(integerValue(*store->object("stepText")), std::nullopt);
    EXPECT_EQ(store->string("stepText"), "5");
    EXPECT_EQ(store->string("step"), std::nullopt);
    EXPECT_EQ(boolValue(*store->object("step")), std::nullopt);
    // Reals written by someone else stay reals.
    EXPECT_EQ(store->object("ratio"), DefaultsValue(2.5));
    EXPECT_EQ(store->object("whole real"), DefaultsValue(3.0));
    EXPECT_EQ(store->object("huge"), DefaultsValue(18446744073709551615.0));
    EXPECT_EQ(store->object("missing"), std::nullopt);
    EXPECT_TRUE(onDisk()["ratio"].is_number_float());
    EXPECT_TRUE(onDisk()["whole real"].is_number_float());
}

TEST_F(JsonUserDefaultsTest, ABurstOfChangesIsWrittenAtMostOncePerSecond) {
    auto store = open();
    // A held key: a new level every 100 ms for 2.5 s.
    std::map<int, std::int64_t> writtenAt;
    for (int tick = 0; tick < 25; ++tick) {
        store->setInteger("volume.screen", tick);
        scheduler->advance(100ms);
        if (std::filesystem::exists(file)) {
            const auto level = onDisk()["volume.screen"].get<std::int64_t>();
            if (writtenAt.empty() || writtenAt.rbegin()->second != level) {
                writtenAt[tick] = level;
            }
        }
    }
    // Written at 1 s and 2 s, each time with the level of that moment.
    ASSERT_EQ(writtenAt.size(), 2u);
    EXPECT_EQ(writtenAt.begin()->first, 9);
    EXPECT_EQ(writtenAt.begin()->second, 9);
    EXPECT_EQ(std::next(writtenAt.begin())->first, 19);
    EXPECT_EQ(std::next(writtenAt.begin())->second, 19);

    // The rest goes out at the end of the window, or at once on flush.
    store->setInteger("volume.screen", 77);
    EXPECT_TRUE(store->flush());
    EXPECT_EQ(onDisk()["volume.screen"], 77);
    const auto written = inode(file);
    scheduler->advance(2s);
    EXPECT_EQ(inode(file), written) << "nothing left to write";

    // Quitting with a change pending still saves it.
    store->setBool("showHUD", true);
    store.reset();
    EXPECT_EQ(onDisk()["showHUD"], true);
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
}

TEST_F(JsonUserDefaultsTest, AnUnparsableFileIsMovedAsideAndTheDefaultsApply) {
    const std::string garbage = "{\"step\": 4,";
    writeText(file, garbage);
    auto store = open();
    EXPECT_EQ(store->object("step"), std::nullopt);
    auto copies = corruptCopies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(readText(copies[0]), garbage);
    EXPECT_FALSE(std::filesystem::exists(file)) << "moved, not copied";

    store->setInteger("step", 6);
    ASSERT_TRUE(store->flush());
    EXPECT_EQ(onDisk()["step"], 6);
    EXPECT_EQ(readText(copies[0]), garbage);

    // Valid JSON that is not an object is no settings file either; an earlier copy is never
    // overwritten, even within the same second.
    store.reset();
    writeText(file, "[1, 2]");
    auto again = open();
    EXPECT_EQ(again->object("step"), std::nullopt);
    copies = corruptCopies();
    ASSERT_EQ(copies.size(), 2u);
    EXPECT_NE(readText(copies[0]), readText(copies[1]));
}

TEST_F(JsonUserDefaultsTest, AFailedWriteKeepsThePreviousFileAndIsTriedAgain) {
    writeText(file, R"({"step": 4})");
    const std::string before = readText(file);
    auto store = open();
    // Root ignores file modes, so block the temporary file's name with a folder.
    const auto temporary = file.string() + ".tmp";
    std::filesystem::create_directory(temporary);
    store->setInteger("step", 6);
    scheduler->advance(1s);
    EXPECT_EQ(readText(file), before);
    // The timed write comes again a second later without another change to start it.
    std::filesystem::remove(temporary);
    scheduler->advance(999ms);
    EXPECT_EQ(readText(file), before) << "at most one write per second";
    scheduler->advance(1ms);
    EXPECT_EQ(onDisk()["step"], 6);
    const auto written = inode(file);
    scheduler->advance(3s);
    EXPECT_EQ(inode(file), written) << "nothing left to write";

    // A failed flush keeps the change for the next one.
    const std::string saved = readText(file);
    store->setInteger("step", 8);
    std::filesystem::create_directory(temporary);
    EXPECT_FALSE(store->flush());
    EXPECT_EQ(readText(file), saved);
    scheduler->advance(2s);
    EXPECT_EQ(readText(file), saved);
    EXPECT_EQ(store->object("step"), DefaultsValue(std::int64_t{8})) << "kept in memory";

    std::filesystem::remove(temporary);
    EXPECT_TRUE(store->flush());
    EXPECT_EQ(onDisk()["step"], 8);

    // A folder that cannot be created (its parent is a file) fails the same way, harmlessly.
    writeText(dir.path() / "plain", "x");
    JsonUserDefaults blocked(dir.path() / "plain" / "varnu" / "defaults.json", scheduler);
    blocked.setBool("showHUD", false);
    EXPECT_FALSE(blocked.flush());
    EXPECT_EQ(blocked.object("showHUD"), DefaultsValue(false));
}

TEST_F(JsonUserDefaultsTest, KeysVarnuDoesNotKnowAreKept) {
    writeText(file, R"({"step": 4, "window": {"x": 10, "tags": ["a", null]}, "note": "hi"})");
    auto store = open();
    EXPECT_EQ(store->object("window"),
              DefaultsValue(DefaultsOtherValue{R"({"tags":["a",null],"x":10})"}));
    store->setInteger("step", 5);
    ASSERT_TRUE(store->flush());
    const auto saved = onDisk();
    EXPECT_EQ(saved["step"], 5);
    EXPECT_EQ(saved["window"], json::parse(R"({"x": 10, "tags": ["a", null]})"));
    EXPECT_EQ(saved["note"], "hi");
}

TEST(DefaultsFilePath, FollowsXDGConfigHomeElseHome) {
    const auto environment = [](std::map<std::string, std::string> values) -> Environment {
        return [values](const std::string& name) -> std::optional<std::string> {
            const auto it = values.find(name);
            return it == values.end() ? std::nullopt : std::optional(it->second);
        };
    };
    EXPECT_EQ(defaultsFilePath(environment({{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}})),
              "/cfg/varnu/defaults.json");
    EXPECT_EQ(defaultsFilePath(environment({{"XDG_CONFIG_HOME", "rel"}, {"HOME", "/home/u"}})),
              "/home/u/.config/varnu/defaults.json");
    EXPECT_EQ(defaultsFilePath(environment({{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}})),
              "/home/u/.config/varnu/defaults.json");
}

} // namespace
} // namespace varnu::linux_backend
