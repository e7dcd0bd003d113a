#include "plugin/presets/factory_presets.hpp"
#include "plugin/presets/preset_library.hpp"

#include "test_support.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace tessellgrove {
namespace {

using preset_tests::read_file;
using preset_tests::set_env;
using preset_tests::TempConfigDir;
using preset_tests::write_file;

namespace fs = std::filesystem;

TessellgrovePreset named(const std::string& name) {
    TessellgrovePreset p = *FACTORY_PRESETS.find("Radio Static");
    p.name = name;
    return p;
}

std::vector<std::string> names_of(const std::vector<PresetEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        out.push_back(e.name);
    }
    return out;
}

std::vector<std::string> dir_listing(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        out.push_back(e.path().filename().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(PresetsDir, EnvironmentRules) {
    TempConfigDir tmp;
    const fs::path tail = fs::path("corvalune") / "tessellgrove" / "Presets";
    const struct {
        std::optional<std::string> xdg;
        std::optional<std::string> home;
        std::string expected;
    } cases[] = {
        {"/x/cfg", "/home/u", "/x/cfg"},
        {"/x/cfg/", "/home/u", "/x/cfg"},
        {"cfg", "/home/u", "/home/u/.config"},
        {"", "/home/u", "/home/u/.config"},
        {std::nullopt, "/home/u", "/home/u/.config"},
        {std::nullopt, "relative", "relative/.config"},
    };
    for (const auto& c : cases) {
        set_env("XDG_CONFIG_HOME", c.xdg);
        set_env("HOME", c.home);
        const auto dir = get_presets_dir();
        ASSERT_TRUE(dir.has_value());
        EXPECT_EQ(dir->lexically_normal(), (fs::path(c.expected) / tail).lexically_normal());
    }
    // Without HOME: the password database entry of the real user.
    set_env("XDG_CONFIG_HOME", std::nullopt);
    for (const std::optional<std::string>& home : {std::optional<std::string>(), std::optional<std::string>("")}) {
        set_env("HOME", home);
        const passwd* pw = ::getpwuid(::getuid());
        const auto dir = get_presets_dir();
        if (pw == nullptr || pw->pw_dir == nullptr || pw->pw_dir[0] == '\0') {
            EXPECT_FALSE(dir.has_value());
        } else {
            ASSERT_TRUE(dir.has_value());
            EXPECT_EQ(*dir, fs::path(pw->pw_dir) / ".config" / tail);
        }
    }
}

// With neither variable set and a real user that has no password entry
// there is no configuration directory, and saving says so.
TEST(PresetsDir, NoHomeAnywhereMeansNoDirectory) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to become a user without a password entry";
    }
    TempConfigDir tmp;
    uid_t uid = 54321;
    while (::getpwuid(uid) != nullptr) {
        ++uid;
    }
    EXPECT_EXIT(
        {
            set_env("XDG_CONFIG_HOME", std::nullopt);
            set_env("HOME", std::nullopt);
            if (::setuid(uid) != 0) {
                std::_Exit(3);
            }
            const bool none = !get_presets_dir().has_value();
            const auto saved = save_preset(named("X"));
            const bool refused = !saved.has_value() && saved.error().to_string() == "Could not find preset directory";
            std::_Exit(none && refused && list_all_presets().size() == 28 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(PresetsDir, NothingIsCreatedByListing) {
    TempConfigDir tmp;
    EXPECT_EQ(get_presets_dir(), tmp.presets());
    EXPECT_EQ(list_all_presets().size(), 28u);
    EXPECT_FALSE(fs::exists(tmp.config()));
}

TEST(PresetError, DisplayTexts) {
    EXPECT_EQ(PresetError::io("boom").to_string(), "IO error: boom");
    EXPECT_EQ(PresetError::io_errno(2).to_string(), "IO error: No such file or directory (os error 2)");
    EXPECT_EQ(PresetError::json("missing field `mix`").to_string(), "JSON error: missing field `mix`");
    EXPECT_EQ(PresetError::no_preset_directory().to_string(), "Could not find preset directory");
}

TEST(PresetSave, FileStemsFromNames) {
    const struct {
        std::string name;
        std::string file;
    } cases[] = {
        {"Bass: Deep/Low", "Bass_ Deep_Low.tessellgrove"},
        {"  Pad  ", "Pad.tessellgrove"},
        {"a\"*/:<>?\\|b", "a_________b.tessellgrove"},
        {"\xC2\xA0Pad\xE2\x80\x83", "Pad.tessellgrove"},
        {"Lead.v2", "Lead.v2.tessellgrove"},
        {"Café ☕", "Café ☕.tessellgrove"},
        {"Tab\tInside", "Tab\tInside.tessellgrove"},
        {"..", "...tessellgrove"},
    };
    for (const auto& c : cases) {
        TempConfigDir tmp;
        const auto saved = save_preset(named(c.name));
        ASSERT_TRUE(saved.has_value()) << c.name << ": " << saved.error().to_string();
        EXPECT_EQ(*saved, tmp.presets() / c.file);
        EXPECT_EQ(dir_listing(tmp.presets()), std::vector<std::string>{c.file}) << c.name;
        const auto loaded = load_preset(*saved);
        ASSERT_TRUE(loaded.has_value()) << loaded.error().to_string();
        EXPECT_EQ(*loaded, named(c.name)); // the name field keeps what was typed
        const auto list = list_all_presets();
        const std::string stem = c.file.substr(0, c.file.size() - std::string(".tessellgrove").size());
        EXPECT_EQ(std::count_if(list.begin(), list.end(),
                                [&](const PresetEntry& e) { return !e.is_factory() && e.name == stem; }),
                  1)
            << c.name;
    }
}

TEST(PresetSave, EmptyStemIsWrittenButNotListed) {
    TempConfigDir tmp;
    for (const char* name : {"", "   ", "\xE3\x80\x80"}) {
        const auto saved = save_preset(named(name));
        ASSERT_TRUE(saved.has_value()) << saved.error().to_string();
        EXPECT_EQ(*saved, tmp.presets() / ".tessellgrove");
        EXPECT_EQ(list_all_presets().size(), 28u);
    }
    EXPECT_EQ(dir_listing(tmp.presets()), std::vector<std::string>{".tessellgrove"});
}

TEST(PresetSave, SecondSaveReplacesFirstAndLeavesNoTemporaryFiles) {
    TempConfigDir tmp;
    TessellgrovePreset first = named("Twice");
    TessellgrovePreset second = named("Twice");
    second.mix = 0.125f;
    ASSERT_TRUE(save_preset(first).has_value());
    ASSERT_TRUE(save_preset(second).has_value());
    EXPECT_EQ(dir_listing(tmp.presets()), std::vector<std::string>{"Twice.tessellgrove"});
    EXPECT_EQ(read_file(tmp.presets() / "Twice.tessellgrove"), second.to_json());
}

TEST(PresetSave, FilePermissionsFollowTheUmask) {
    TempConfigDir tmp;
    const mode_t old = ::umask(027);
    const auto saved = save_preset(named("Perm"));
    ::umask(old);
    ASSERT_TRUE(saved.has_value());
    struct stat st {};
    ASSERT_EQ(::stat(saved->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(::stat(tmp.presets().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
}

TEST(PresetSave, NulInNameFailsWithoutWriting) {
    TempConfigDir tmp;
    const auto saved = save_preset(named(std::string("bad\0name", 8)));
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error().kind(), PresetError::Kind::Io);
    EXPECT_FALSE(fs::exists(tmp.config()));
}

TEST(PresetSave, UnusableDirectoryIsAnIoError) {
    TempConfigDir tmp;
    write_file(tmp.config(), "a file where the directory should be");
    const auto saved = save_preset(named("X"));
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error().to_string(), "IO error: Not a directory (os error 20)");

    // A directory standing where the file goes: the rename fails and the
    // temporary file is cleaned up.
    TempConfigDir other;
    fs::create_directories(other.presets() / "Dir.tessellgrove");
    const auto over_dir = save_preset(named("Dir"));
    ASSERT_FALSE(over_dir.has_value());
    EXPECT_EQ(over_dir.error().kind(), PresetError::Kind::Io);
    EXPECT_EQ(dir_listing(other.presets()), std::vector<std::string>{"Dir.tessellgrove"});
}

TEST(PresetSave, OverlongNameFailsCleanly) {
    TempConfigDir tmp;
    const auto saved = save_preset(named(std::string(250, 'x')));
    ASSERT_FALSE(saved.has_value());
    EXPECT_EQ(saved.error().to_string(), "IO error: File name too long (os error 36)");
    EXPECT_TRUE(dir_listing(tmp.presets()).empty());
}

// Two writers race on one name while a reader keeps loading it: every load
// that finds the file sees one writer's complete text.
TEST(PresetSave, ConcurrentSavesOfOneNameNeverMixBytes) {
    TempConfigDir tmp;
    TessellgrovePreset a = named("Race");
    TessellgrovePreset b = named("Race");
    b.mix = 0.25f;
    b.lock_freq = 4321.5f;
    b.swarm_count = 13;
    std::atomic<int> writers_left{2};
    std::atomic<int> failures{0};
    const auto writer = [&](const TessellgrovePreset& p) {
        for (int i = 0; i < 300; ++i) {
            if (!save_preset(p).has_value()) {
                ++failures;
            }
        }
        --writers_left;
    };
    std::thread ta(writer, std::cref(a));
    std::thread tb(writer, std::cref(b));
    int loads = 0;
    int bad = 0;
    const fs::path path = tmp.presets() / "Race.tessellgrove";
    while (writers_left.load() > 0) {
        const auto loaded = load_preset(path);
        if (loaded.has_value()) {
            ++loads;
            if (!(*loaded == a || *loaded == b)) {
                ++bad;
            }
        } else if (loaded.error().to_string() != "IO error: No such file or directory (os error 2)") {
            ++bad;
        }
    }
    ta.join();
    tb.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(bad, 0);
    const auto last = load_preset(path);
    ASSERT_TRUE(last.has_value());
    EXPECT_TRUE(*last == a || *last == b);
    EXPECT_EQ(dir_listing(tmp.presets()), std::vector<std::string>{"Race.tessellgrove"});
    RecordProperty("loads_during_race", loads);
}

TEST(PresetLoad, Failures) {
    TempConfigDir tmp;
    const fs::path dir = tmp.presets();
    fs::create_directories(dir);
    write_file(dir / "BadUtf8.tessellgrove", "{\"name\":\"\xff\"}");
    write_file(dir / "Broken.tessellgrove", "{ not json");
    write_file(dir / "Empty.tessellgrove", "");
    write_file(dir / "Big.tessellgrove", std::string(max_preset_file_size + 1, ' '));
    fs::create_directories(dir / "Folder.tessellgrove");
    fs::create_symlink("/dev/zero", dir / "Zero.tessellgrove");
    ASSERT_EQ(::mkfifo((dir / "Fifo.tessellgrove").c_str(), 0600), 0);
    const struct {
        const char* file;
        PresetError::Kind kind;
        const char* text; // exact display text, or nullptr
    } cases[] = {
        {"Missing.tessellgrove", PresetError::Kind::Io, "IO error: No such file or directory (os error 2)"},
        {"BadUtf8.tessellgrove", PresetError::Kind::Io, "IO error: stream did not contain valid UTF-8"},
        {"Broken.tessellgrove", PresetError::Kind::Json, nullptr},
        {"Empty.tessellgrove", PresetError::Kind::Json, nullptr},
        {"Big.tessellgrove", PresetError::Kind::Io, nullptr},
        {"Folder.tessellgrove", PresetError::Kind::Io, "IO error: Is a directory (os error 21)"},
        {"Zero.tessellgrove", PresetError::Kind::Io, nullptr},
        {"Fifo.tessellgrove", PresetError::Kind::Json, nullptr}, // no writer: reads as empty, never blocks
    };
    for (const auto& c : cases) {
        const auto r = load_preset(dir / c.file);
        ASSERT_FALSE(r.has_value()) << c.file;
        EXPECT_EQ(r.error().kind(), c.kind) << c.file << ": " << r.error().to_string();
        if (c.text != nullptr) {
            EXPECT_EQ(r.error().to_string(), c.text);
        }
    }
}

TEST(PresetLoad, ExactlyTheSizeLimitIsRead) {
    TempConfigDir tmp;
    std::string text = named("Padded").to_json();
    text.resize(max_preset_file_size, ' ');
    write_file(tmp.presets() / "Padded.tessellgrove", text);
    const auto r = load_preset(tmp.presets() / "Padded.tessellgrove");
    ASSERT_TRUE(r.has_value()) << r.error().to_string();
    EXPECT_EQ(*r, named("Padded"));
}

TEST(PresetList, FactoryOrderWithEmptyDirectory) {
    TempConfigDir tmp;
    fs::create_directories(tmp.presets());
    const auto list = list_all_presets();
    const std::vector<std::string> expected = {
        "Ambient Wash", "Bass Transformer", "Broken Transmission", "Combover", "Dense Texture",
        "Folded Harmonics", "Glitch Rhythm", "Granular Chaos", "Gritty Edge", "Harsh Metallic", "Init",
        "Keys Sparkle", "Lo-Fi Warmth", "Metallic Shimmer", "Octave Wobble", "Organ Swell", "Pad Thickener",
        "Radio Static", "Rhythmic Pulse", "Robot Voice", "Sci-Fi Scanner", "Slow Drift", "Spectral Cloud",
        "Stepped Destruction", "Synth Vowels", "Talking Synth", "Vowel Sweep", "Warm Chorus",
    };
    EXPECT_EQ(names_of(list), expected);
    for (const auto& e : list) {
        EXPECT_TRUE(e.is_factory());
        EXPECT_EQ(e.preset.name, e.name);
    }
}

TEST(PresetList, WhichFilesAreListedAndUnderWhatName) {
    TempConfigDir tmp;
    const fs::path dir = tmp.presets();
    fs::create_directories(dir);
    for (const char* f : {"Lead.TESSELLGROVE", "Lead.json", "Lead.alt.tessellgrove", "tessellgrove",
                          ".tessellgrove", "Lead.tessellgrove.bak", "Lead.tessellgrove", "..tessellgrove",
                          "\xff" "bad.tessellgrove"}) {
        write_file(dir / f, "{}");
    }
    fs::create_directories(dir / "Folder.tessellgrove");
    auto list = list_all_presets();
    std::vector<std::string> users;
    for (const auto& e : list) {
        if (!e.is_factory()) {
            users.push_back(e.name);
            EXPECT_EQ(e.path.parent_path(), dir);
        }
    }
    std::sort(users.begin(), users.end());
    const std::vector<std::string> expected = {".", "Folder", "Lead", "Lead.alt", "\xEF\xBF\xBD" "bad"};
    EXPECT_EQ(users, expected);
}

TEST(PresetList, SortIsStableByLowerCaseKey) {
    TempConfigDir tmp;
    const fs::path dir = tmp.presets();
    fs::create_directories(dir);
    for (const char* f : {"b", "A", "a", "init", "Äpfel", "Zebra", "ΣΑΣ", "σας", "İ"}) {
        write_file(dir / (std::string(f) + ".tessellgrove"), "{}");
    }
    // The order in which the directory hands out entries decides ties.
    std::vector<std::string> dir_order;
    {
        DIR* d = ::opendir(dir.c_str());
        ASSERT_NE(d, nullptr);
        while (const dirent* e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") {
                dir_order.push_back(n.substr(0, n.size() - std::string(".tessellgrove").size()));
            }
        }
        ::closedir(d);
    }
    const auto pos = [&](const std::string& n) {
        return std::find(dir_order.begin(), dir_order.end(), n) - dir_order.begin();
    };
    const auto names = names_of(list_all_presets());
    ASSERT_EQ(names.size(), 37u);
    const auto at = [&](const std::string& n) { return std::find(names.begin(), names.end(), n) - names.begin(); };

    // "A" and "a" are adjacent, first of all and in directory order; "b"
    // follows "ambient wash" ("a" is its prefix) and precedes "bass ...".
    const auto first_a = std::min(at("A"), at("a"));
    EXPECT_EQ(first_a, 0);
    EXPECT_EQ(std::max(at("A"), at("a")), first_a + 1);
    EXPECT_EQ(names[static_cast<std::size_t>(first_a)], pos("A") < pos("a") ? "A" : "a");
    EXPECT_EQ(at("Ambient Wash"), 2);
    EXPECT_EQ(at("b"), 3);
    EXPECT_EQ(at("Bass Transformer"), 4);
    // Factory "Init" ahead of the user "init" of the same key.
    EXPECT_EQ(at("init"), at("Init") + 1);
    // Non-ASCII keys sort by their UTF-8 bytes after ASCII ("äpfel" > "zebra"),
    // and "ΣΑΣ" has the same key as "σας" (final sigma), keeping directory order.
    EXPECT_GT(at("Äpfel"), at("Zebra"));
    EXPECT_EQ(std::abs(at("ΣΑΣ") - at("σας")), 1);
    EXPECT_EQ(at("ΣΑΣ") < at("σας"), pos("ΣΑΣ") < pos("σας"));
    // "İ" lower-cases to "i" + U+0307 and sorts right after the "i..." names.
    EXPECT_LT(at("init"), at("İ"));
    EXPECT_LT(at("İ"), at("Keys Sparkle"));
}

TEST(PresetList, UserInitBesideFactoryInit) {
    TempConfigDir tmp;
    ASSERT_TRUE(save_preset(named("Init")).has_value());
    const auto list = list_all_presets();
    std::vector<const PresetEntry*> inits;
    for (const auto& e : list) {
        if (e.name == "Init") {
            inits.push_back(&e);
        }
    }
    ASSERT_EQ(inits.size(), 2u);
    EXPECT_TRUE(inits[0]->is_factory());
    EXPECT_FALSE(inits[1]->is_factory());
    EXPECT_EQ(inits[1]->path, tmp.presets() / "Init.tessellgrove");
}

TEST(PresetRemove, RemovesFileOrReportsTheSystemError) {
    TempConfigDir tmp;
    const auto saved = save_preset(named("Gone"));
    ASSERT_TRUE(saved.has_value());
    EXPECT_FALSE(remove_preset_file(*saved).has_value());
    EXPECT_FALSE(fs::exists(*saved));
    const auto again = remove_preset_file(*saved);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->to_string(), "IO error: No such file or directory (os error 2)");
}

TEST(SplitFileName, ExtensionRules) {
    const struct {
        const char* name;
        const char* stem;
        const char* ext; // nullptr: none
    } cases[] = {
        {"a.b", "a", "b"}, {"a.b.c", "a.b", "c"}, {"abc", "abc", nullptr}, {".abc", ".abc", nullptr},
        {"..abc", ".", "abc"}, {"a.", "a", ""}, {"..", "..", nullptr},
    };
    for (const auto& c : cases) {
        const auto [stem, ext] = split_file_name(c.name);
        EXPECT_EQ(stem, c.stem) << c.name;
        EXPECT_EQ(ext.has_value(), c.ext != nullptr) << c.name;
        if (ext && c.ext) {
            EXPECT_EQ(*ext, c.ext);
        }
    }
}

} // namespace
} // namespace tessellgrove
