// The demo game's shipped presence script against the real demo game: the
// script finds the game's state, decodes it and follows its changes.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/child_process.h"
#include "script/presence_poll.h"
#include "script/script_host.h"
#include "target/target_process.h"

namespace {

const char* const kDemoApplicationId = "300000000000000001";

std::string Text(const char* text) { return text != nullptr ? text : "(null)"; }

// Polls once and keeps the texts the script produced.
struct Snapshot {
    bool ok = false;
    std::string state, details, largeImageKey, largeImageText, smallImageKey, smallImageText, partyId;
};

Snapshot Poll(ScriptHost& host) {
    Snapshot snapshot;
    snapshot.ok = PollPresence(host, [&](const RichPresence& p) {
        snapshot.state = Text(p.state);
        snapshot.details = Text(p.details);
        snapshot.largeImageKey = Text(p.largeImageKey);
        snapshot.largeImageText = Text(p.largeImageText);
        snapshot.smallImageKey = Text(p.smallImageKey);
        snapshot.smallImageText = Text(p.smallImageText);
        snapshot.partyId = Text(p.partyId);
    });
    return snapshot;
}

TEST(DemoScript, ReportsTheGameStateAndFollowsItsChanges) {
    ChildProcess game;
    ASSERT_TRUE(game.Start(ProgramBesideThisOne("../tools/demo_game/demo_game"), {"--step-ms", "0", "--seconds", "60"}));
    std::string line;
    ASSERT_TRUE(game.ReadLine(line));  // the first state is in place once it is printed

    std::unique_ptr<TargetProcess> target = OpenTarget(game.Pid());
    ASSERT_TRUE(target);
    const std::string script = PathBesideThisProgram(std::string("../dist/8a57342e5e/scripts/") + kDemoApplicationId + ".lua");
    std::unique_ptr<ScriptHost> host = CreateScriptHost(script.c_str(), target.get());
    ASSERT_TRUE(host) << script;

    Snapshot first = Poll(*host);
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.details, "Exploring Harbor");
    EXPECT_EQ(first.state, "Level 1, party of 1/4");
    EXPECT_EQ(first.largeImageKey, "map_harbor");
    EXPECT_EQ(first.largeImageText, "Harbor");
    EXPECT_EQ(first.smallImageKey, "score");
    EXPECT_EQ(first.smallImageText, "Score 0");
    EXPECT_EQ(first.partyId, "demo-party");

    // Two steps later the game is on its second map. Both are asked for in one
    // write, so the game reads them together: each must still make a step.
    ASSERT_TRUE(game.WriteLine("step\nstep"));
    for (int step = 0; step < 2; ++step) ASSERT_TRUE(game.ReadLine(line));
    EXPECT_NE(line.find("level 3"), std::string::npos) << line;
    Snapshot later = Poll(*host);
    ASSERT_TRUE(later.ok);
    EXPECT_EQ(later.details, "Exploring Old Quarry");
    EXPECT_EQ(later.state, "Level 3, party of 3/4");
    EXPECT_EQ(later.largeImageKey, "map_old_quarry");
    EXPECT_EQ(later.smallImageText, "Score 2800");

    ASSERT_TRUE(game.WriteLine("exit"));
    int exitCode = -1;
    ASSERT_TRUE(game.Wait(10000, exitCode));
    EXPECT_EQ(exitCode, 0);
}

}  // namespace
