// SPDX-License-Identifier: ISC
#include <gtest/gtest.h>

#include "ndirmigrate.h"

namespace {

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
		NdirDosKey(c.a, a);
		NdirDosKey(c.b, b);
		EXPECT_EQ(std::string(a) == b, c.same) << c.a << " / " << c.b;
	}
}

} // namespace
