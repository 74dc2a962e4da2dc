// Texts made from a statement: its tokens, its shape, its SQL_ID and the statement with
// its values, each a table of the cases where Oracle's lexical rules bite.
#include "RunnableSql.h"
#include "SqlId.h"
#include "SqlLexer.h"
#include "SqlShape.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Tokens as "K[text]" with K one letter per kind.
std::string Listing(std::string_view text)
{
    static const char Letters[] = "BCHLQPNWO";
    std::string listing, joined;
    for (const TSqlToken& token : SqlTokens(text)) {
        listing += Letters[static_cast<int>(token.Kind)];
        listing += "[" + std::string(token.Text) + "]";
        joined += token.Text;
    }
    EXPECT_EQ(joined, text) << "the tokens put together are the text";
    return listing;
}

} // namespace

TEST(SqlLexer, TellsLiteralsNamesCommentsAndPlaceholdersApart)
{
    const struct {
        std::string_view Text;
        const char* Tokens;
    } cases[] = {
        {"x='it''s'", "W[x]O[=]L['it''s']"},
        {"N'ab' n'c'", "L[N'ab']B[ ]L[n'c']"},
        {"q'[it's]' Q'!a'b!' nq'{x}' q'<y>'", "L[q'[it's]']B[ ]L[Q'!a'b!']B[ ]L[nq'{x}']B[ ]L[q'<y>']"},
        {"seq'a'", "W[seq]L['a']"},
        {"\"Mixed Case\".c", "Q[\"Mixed Case\"]O[.]W[c]"},
        {"a -- c :x\r\nb", "W[a]B[ ]C[-- c :x]B[\r\n]W[b]"},
        {"/*+ INDEX(t) */ /* :x */a/**/", "H[/*+ INDEX(t) */]B[ ]C[/* :x */]W[a]C[/**/]"},
        {":name :1 :\"Q x\" :=x", "P[:name]B[ ]P[:1]B[ ]P[:\"Q x\"]B[ ]O[:]O[=]W[x]"},
        {"5 5.001 .5 6e-30 1.5f 2E+3", "N[5]B[ ]N[5.001]B[ ]N[.5]B[ ]N[6e-30]B[ ]N[1.5f]B[ ]N[2E+3]"},
        {"t1 v$s c#2 a-5 1..10", "W[t1]B[ ]W[v$s]B[ ]W[c#2]B[ ]W[a]O[-]N[5]B[ ]N[1]O[.]O[.]N[10]"},
        {"Gr\xC3\xBC\xC3\x9F" "e=1", "W[Gr\xC3\xBC\xC3\x9F" "e]O[=]N[1]"},
        // Left open: runs to the end, and no further.
        {"a 'b''", "W[a]B[ ]L['b'']"},
        {"/* x", "C[/* x]"},
        {"/*", "C[/*]"},
        {"\"ab", "Q[\"ab]"},
        {"q'[ab]", "L[q'[ab]]"},
        {"q'", "L[q']"},
        {":\"ab", "P[:\"ab]"},
        {"x:", "W[x]O[:]"},
        {"--", "C[--]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Listing(c.Text), c.Tokens) << c.Text;
}

TEST(SqlShape, LiteralsGoAndTheRestIsFolded)
{
    const struct {
        const char* Text;
        const char* Shape;
    } cases[] = {
        {"SELECT * from foo where a = 5", "select * from foo where a = ?"},
        {"select * from t where a in (5) and b in (5, 8,9 ,9 , 10)", "select * from t where a in (?+) and b in (?+)"},
        {"select /*+ INDEX(T IX_A) */ 'it''s', N'x', q'[a'b]' from \"My T\" -- note\n where x = -5.5e3",
         "select /*+ INDEX(T IX_A) */ ?, ?, ? from \"My T\" where x = -?"},
        {"  UPDATE t\r\n\tSET a = :A, b = :\"Bb\"  /* c */ WHERE c IN (:1, 'x', :b)  ",
         "update t set a = :a, b = :\"Bb\" where c in (?+)"},
        {"select * from t where a in (select b from u) and c in (1, -2) and d in ()",
         "select * from t where a in (select b from u) and c in (?, -?) and d in ()"},
        {"select t1.c5, .5 from t1 where x in(1,2)", "select t1.c5, ? from t1 where x in(?+)"},
        {"begin for i in 1..10 loop null; end loop; end;", "begin for i in ?..? loop null; end loop; end;"},
        {"SELECT 'Gr\xC3\xBC\xC3\x9F" "e' FROM \"T\xC3\xA4" "ble\"/*x*/WHERE A=1", "select ? from \"T\xC3\xA4" "ble\" where a=?"},
        {"-- only a comment\n", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatementShape(c.Text), c.Shape) << c.Text;
}

TEST(SqlId, PublishedPairsAndTrailingBlanks)
{
    const struct {
        const char* Text;
        const char* Id;
    } cases[] = {
        {"select * from dual", "a5ks9fhw2v9s1"},
        {"SELECT * FROM DUAL", "9g6pyx7qz035v"},
        {"select sysdate from dual", "7h35uxf5uhmm1"},
        {"select 'Slavik' from dual", "29schpgjyfxux"},
        // Checked against MD5 of Python's hashlib: the trailing blank is hashed, and a
        // non-ASCII text as its UTF-8 bytes.
        {"select * from dual ", "01fwpqgt0jx4p"},
        {"select \xC3\xA9 from dual", "9tkfww6tp1k7m"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SqlIdOf(c.Text), c.Id) << c.Text;
}

TEST(RunnableStatement, PlaceholdersTakeTheirValuesOutsideLiteralsAndComments)
{
    using TValues = std::vector<TSqlValue>;
    const struct {
        const char* Name;
        const char* Text;
        TValues Values;
        const char* Runnable;
    } cases[] = {
        {"by name, without regard to case", "select * from t where a = :a and b = :B and c = ':a' /* :a */ and \"x:a\" = 1",
         {{":A", "5"}, {":b", "'x'"}},
         "select * from t where a = 5 and b = 'x' and c = ':a' /* :a */ and \"x:a\" = 1;\r\n"},
        {"values that are none stay placeholders", "update t set a = :1, b = :2, c = :3 where d = :4 and e = :5",
         {{":1", "?"}, {":2", "<CLOB>"}, {":3", "<unreadable>"}, {":4", "NULL"}},
         "update t set a = :1, b = :2, c = :3 where d = NULL and e = :5;\r\n"},
        {"by position, each occurrence in SQL", "insert into t values (:x, :y, :x)",
         {{":1", "1"}, {":2", "2"}, {":3", "3"}}, "insert into t values (1, 2, 3);\r\n"},
        {"by position, each name in a block", "BEGIN\n  p(:a, :b, :A);\nEND;\n", {{":1", "10"}, {":2", "20"}},
         "BEGIN\r\n  p(10, 20, 10);\r\nEND;\r\n/\r\n"},
        {"a value given during the execute", "declare x number; begin :r := 1; end;", {{":R", "<at execute>"}},
         "declare x number; begin :r := 1; end;\r\n/\r\n"},
        {"quoted names as they are", "select :\"Mixed\", :mixed from dual", {{":MIXED", "2"}, {":\"Mixed\"", "1"}},
         "select 1, 2 from dual;\r\n"},
        {"a literal's line breaks stay", "  select 'a\nb' from t\n-- end\n", {}, "select 'a\nb' from t\r\n-- end\r\n;\r\n"},
        {"one terminator", "select 1 from dual;", {}, "select 1 from dual;\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunnableStatement(c.Text, c.Values), c.Runnable) << c.Name;
}
