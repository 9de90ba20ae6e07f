// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include <string>

#include "ndirmigrate.h"
#include "run.h"

namespace {

/* What the migration makes of a file line under a volume line: its reason, or "copied". */
std::string
judge(const std::string &volume, const std::string &file)
{
	NdirLexer l(nullptr, nullptr);
	const char *reason;

	l.NdirVolLine(volume.c_str());
	NdirVerdict v = NdirJudgeVolume(l.vol);
	l.NdirFileLine(file.c_str());
	NdirRecord r = {l.VolServer(), l.VolVolume(), l.VolPath(), l.FileName(), l.FileOwner()};
	NdirFate fate = NdirJudgeFile(r, l.file, v, &reason);
	EXPECT_EQ(fate == NDIR_COPIED, reason == nullptr) << file;
	return reason ? reason : "copied";
}

/* What follows a file line's extension column. */
const std::string TAIL = "  12,345  3-15-96  4:07p [Rw-A--------------] IS";

struct Row {
	const char *name;
	std::string volume, file, reason;
};

void
expectJudged(std::initializer_list<Row> rows)
{
	for (const auto &r : rows)
		EXPECT_EQ(judge(r.volume, r.file), r.reason) << r.name;
}

TEST(Rules, RefuseWhatTheScriptCannotCarry)
{
	expectJudged({
	    {"end of file byte in a name", "S\\V:P", fileLine("A\x1a", "", "IS"), UNSAFE},
	    {"delete byte in a name", "S\\V:P", fileLine("A\x7f", "", "IS"), UNSAFE},
	    {"lone carriage return in a path", "S\\V:X\rY", fileLine("A", "", "IS"), UNSAFE},
	    {"redirection in a path", "S\\V:X<Y", fileLine("A", "", "IS"), UNSAFE},
	    {"redirection in a server", "X>Y\\V:P", fileLine("A", "", "IS"), UNSAFE},
	    {"pipe in a volume", "S\\V|W:P", fileLine("A", "", "IS"), UNSAFE},
	    {"quote in an owner", "S\\V:P", fileLine("A", "", "I\"S"), UNSAFE},
	    {"full stop as a path part", "S\\V:.\\P", fileLine("A", "", "IS"), UNSAFE},
	    {"parent as a path part after a slash", "S\\V:P/../Q", fileLine("A", "", "IS"), UNSAFE},
	    {"parent as a name", "S\\V:P", fileLine("..", "", "IS"), UNSAFE},
	    {"parents as an owner", "S\\V:P", fileLine("A", "", "..\\.."), UNSAFE},
	    {"parent as an owner part after a slash", "S\\V:P", fileLine("A", "", "N/.."), UNSAFE},
	    {"the escapes' characters are carried", "S%1\\V&2:P^3", fileLine("A!%", "&^", "O%&"), "copied"},
	    {"code-page letters are carried", "S\\V:\x80\xe9", fileLine("CAF\x90\xff", "", "IS"), "copied"},
	});
}

TEST(Rules, RefuseDeviceNamesAnywhereInAnyField)
{
	expectJudged({
	    {"as a name, with an extension", "S\\V:P", fileLine("CON", "TXT", "IS"), DEVICE},
	    {"as a name, in lower case", "S\\V:P", fileLine("nul", "", "IS"), DEVICE},
	    {"as the first path part", "S\\V:AUX\\B\\C", fileLine("A", "", "IS"), DEVICE},
	    {"as a middle path part, in lower case", "S\\V:A\\nul\\B", fileLine("A", "", "IS"), DEVICE},
	    {"as the last path part, with an extension", "S\\V:A\\B\\PRN.OLD", fileLine("A", "", "IS"), DEVICE},
	    {"as a path part after a slash", "S\\V:A/LPT1/B", fileLine("A", "", "IS"), DEVICE},
	    {"as an owner", "S\\V:P", fileLine("A", "", "COM1"), DEVICE},
	    {"as a server", "LPT9\\V:P", fileLine("A", "", "IS"), DEVICE},
	    {"the clock as a volume", "S\\Clock$:P", fileLine("A", "", "IS"), DEVICE},
	    {"longer than a device name", "S\\V:CONS\\COM10", fileLine("NULL", "", "LPT"), "copied"},
	});
}

TEST(Rules, RefuseCharactersDosDoesNotAllow)
{
	expectJudged({
	    {"asterisk in a name", "S\\V:P", fileLine("A*", "", "IS"), FORBIDDEN},
	    {"semicolon in a path", "S\\V:A;B", fileLine("A", "", "IS"), FORBIDDEN},
	    {"equals sign in a server", "S=T\\V:P", fileLine("A", "", "IS"), FORBIDDEN},
	    {"bracket in an owner", "S\\V:P", fileLine("A", "", "[X]"), FORBIDDEN},
	    {"colon in a path", "S\\V:A:B", fileLine("A", "", "IS"), FORBIDDEN},
	    {"colon in a server, which names no file", "S:T\\V:P", fileLine("A", "", "IS"), "copied"},
	});
}

TEST(Rules, RefuseNamesThatEndInAFullStop)
{
	expectJudged({
	    {"a name", "S\\V:P", fileLine("ABC.", "", "IS"), DOT},
	    {"a path part", "S\\V:A.\\B", fileLine("A", "", "IS"), DOT},
	    {"a server's, which names no file", "S.\\V:P", fileLine("A", "", "IS"), "copied"},
	});
}

TEST(Rules, RefuseASlashOnlyAtTheStartOfTheServer)
{
	expectJudged({
	    {"server", "/Q\\V:P", fileLine("A", "", "IS"), SWITCH},
	    {"path", "S\\V:/Q", fileLine("A", "", "IS"), "copied"},
	    {"owner", "S\\V:P", fileLine("A", "", "/Q"), "copied"},
	});
}

TEST(Rules, RefuseFieldsCutOrEndedEarly)
{
	expectJudged({
	    {"a path longer than its field", "S\\V:" + std::string(256, 'P'), fileLine("A", "", "IS"), CUT},
	    {"a path of 255 characters", "S\\V:" + std::string(255, 'P'), fileLine("A", "", "IS"), "copied"},
	    {"a volume longer than its field", "S\\" + std::string(48, 'V') + ":P", fileLine("A", "", "IS"), CUT},
	    {"a server longer than its field leaves the volume absent", std::string(48, 'S') + "\\V:P",
	        fileLine("A", "", "IS"), INCOMPLETE},
	    {"a name longer than its field", "S\\V:P", fileLine("NINELONGX", "", "IS"), CUT},
	    {"a name of eight letters", "S\\V:P", fileLine("EIGHTLET", "TXT", "IS"), "copied"},
	    {"an owner longer than its field names a folder", "S\\V:P", fileLine("A", "", "TWELVELETTER"),
	        "copied"},
	    {"a form feed in a name", "S\\V:P", "A\fB           TXT" + TAIL, SPLIT},
	    {"a tab in an owner", "S\\V:P", fileLine("A", "", "I\tS"), SPLIT},
	    {"a tab after an owner", "S\\V:P", fileLine("A", "", "IS\t"), "copied"},
	});
}

/* The order of the reasons: unsafe, forbidden, device, full stop, slash, cut, split. */
TEST(Rules, NameTheFirstReasonInTheirOrder)
{
	expectJudged({
	    {"unsafe before forbidden", "S\\V:A*", fileLine("A<B", "", "IS"), UNSAFE},
	    {"unsafe before a device in the volume", "S\\CON:P", fileLine("A", "", "I|S"), UNSAFE},
	    {"forbidden before device", "S\\V:CON", fileLine("A+B", "", "IS"), FORBIDDEN},
	    {"device before full stop", "S\\V:A.", fileLine("AUX", "", "IS"), DEVICE},
	    {"full stop before slash", "/S\\V:P", fileLine("A.", "", "IS"), DOT},
	    {"slash before cut", "/S\\V:P", fileLine("NINELONGX", "", "IS"), SWITCH},
	    {"cut before split", "S\\V:" + std::string(256, 'P'), fileLine("A", "", "I\tS"), CUT},
	});
}

TEST(Rules, GiveAnIncompleteRecordItsErrorLineBeforeDosRules)
{
	expectJudged({
	    {"a device without owner", "S\\V:P", fileLine("CON", "TXT", ""), INCOMPLETE},
	    {"a forbidden character without volume", "S/V:P", fileLine("A*", "", "IS"), INCOMPLETE},
	    {"a cut extension loses the owner", "S\\V:P", "A             TEXT" + TAIL, INCOMPLETE},
	    {"unsafe bytes before it", "S\\V:P", fileLine("A|B", "", ""), UNSAFE},
	    {"a program file", "S\\V:P", fileLine("SETUP", "EXE", "IS"), PROGRAM},
	    {"a program marker anywhere in the name", "S\\V:P", fileLine("A.DLL", "", "IS"), PROGRAM},
	    {"a program name in lower case", "S\\V:P", fileLine("setup", "exe", "IS"), "copied"},
	});
}

TEST(Rules, MapEachOwnerExactlyToItsFolder)
{
	struct {
		const char *owner, *folder;
	} cases[] = {
		{"QXV0", "QXV1"}, {"QXV1", "QXV1"}, {"DRK", "DRK0"}, {"DRK0", "DRK0"}, {"TZF0", "TZF1"},
		{"STUD", "NUSTUD"}, {"NUSTUD", "NUSTUD"}, {"TRAIN", "KELVOMAR"}, {"SUPERVISO", nullptr},
		{"LANSTUD", nullptr}, {"N/A", nullptr}, {"IS", nullptr}, {"MASTER", nullptr},
		{"SUPPORT", nullptr}, {"ARCSERVE", nullptr}, {"SUPERVISOR", "SUPERVISOR"},
		{"supervisor", "supervisor"}, {"Is", "Is"}, {"train", "train"},
	};
	for (const auto &c : cases) {
		const char *folder = NdirOwnerFolder(c.owner);
		EXPECT_STREQ(folder ? folder : "N:", c.folder ? c.folder : "N:") << c.owner;
	}
}

TEST(DosKey, ComparesTargetsAsDosDoes)
{
	struct {
		const char *a, *b;
		bool same;
	} cases[] = {
		{"O:\\A\\DIR/SUB\\F", "O:\\A\\DIR\\SUB\\F", true},
		{"N:\\\\F", "N:\\F", true},
		{"N:\\P\\\\\\F", "N:\\P/F", true},
		{"O:\\A\\", "O:\\A", true},
		{"o:\\qxv1\\oldserv\\home\\a.txt", "O:\\QXV1\\OLDSERV\\HOME\\A.TXT", true},
		{"N:\\caf\xe9", "N:\\CAF\xc9", false},
		{"N:\\A B", "N:\\AB", false},
		{"N:\\P\\F", "N:\\PF", false},
	};
	for (const auto &c : cases) {
		char a[64], b[64];
		NdirDosKey(c.a, a, NDIR_ASCII_FOLD);
		NdirDosKey(c.b, b, NDIR_ASCII_FOLD);
		EXPECT_EQ(std::string(a) == b, c.same) << c.a << " / " << c.b;
	}
}

/*
 * Thousands of files of one directory, as the volume roots of the shared
 * owners give, and as many spread over thousands of folders: every target
 * added again is found, and no other.
 */
TEST(Targets, FindEveryTargetAddedAgainAmongThousands)
{
	NdirTargets targets(NdirDosFold());
	int again = 0;
	auto added = [&targets](const std::string &target) {
		NdirText<NDIR_TARGET_MAX> key;
		key << target.c_str();
		key.n = NdirDosKey(key.buf, key.buf, targets.fold);
		return targets.Add(targets.Hash(key));
	};

	for (int round = 0; round < 2; round++)
		for (int i = 0; i < 3000; i++) {
			std::string root = "N:\\\\R" + std::to_string(i);
			std::string spread = "O:\\U" + std::to_string(i) + "\\OLDSERV\\\\F" + std::to_string(i % 7);
			again += !added(root) + !added(spread);
			EXPECT_EQ(again, round * (2 * i + 2)) << i;
		}
}

} // namespace
