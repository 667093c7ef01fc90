// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/byte_limit.h"

#include "tests/support/widgets.h"
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

// A limit counted in characters would let a 16-byte field take 16 Chinese characters, 48 bytes, which the
// settings record would then cut without a word.
TEST(TypedLimit, CountsTheBytesTheSettingsFileStores) {
    struct Case {
        const char* typed;
        const char* kept;
    };
    const Case cases[] = {
        {"ABCDEFGHIJKLMNOPQ", "ABCDEFGHIJKLMNOP"}, // the 17th letter is refused
        {"序列号序列号", "序列号序列"},            // five characters are 15 bytes; a sixth would be 18
        {"AB序列号序列号", "AB序列号序"},          // 2 + 12 bytes; the next character would make 17
        {"", ""},
    };
    for (const Case& c : cases) {
        QLineEdit edit;
        set_typed_limit(&edit, 16);
        type_text(&edit, QString::fromUtf8(c.typed));
        EXPECT_EQ(edit_text(&edit), c.kept) << c.typed;
    }
}

TEST(TypedLimit, RefusesAPasteThatWouldNotFit) {
    QLineEdit edit;
    set_typed_limit(&edit, 4);
    QTest::keyClicks(&edit, "12");
    edit.insert("345");
    EXPECT_EQ(edit_text(&edit), "12");
    edit.insert("34");
    EXPECT_EQ(edit_text(&edit), "1234");
}
