// A traced execute as a statement that can be pasted into a SQL worksheet: the statement
// with each placeholder replaced by the value the execute ran with.
#pragma once

#include <span>
#include <string>
#include <string_view>

// One bind of an execute row as its Binds cell shows it: Name ":lo", ":3", ":\"Mixed\"";
// Value "42", "'O''Brien'", "DATE '2024-01-31 13:45:07'", "NULL", "?", "<CLOB>".
struct TSqlValue {
    std::string_view Name;
    std::string_view Value;
};

// The statement text with each placeholder outside literals, quoted names and comments
// replaced by its value. A placeholder takes the value whose name is its own (without the
// leading ":"; unquoted names without regard to case); failing that, a name ":N" gives the
// value of the N-th placeholder, as a bind by position does (each occurrence counts in SQL,
// each distinct name in a PL/SQL block). A placeholder stays as it is when no value fits
// or its value is not a literal: "?" (values hidden) or "<...>" ("<unreadable>",
// "<TIMESTAMP>", "<at execute>").
// The statement ends with ";" on its last line, a PL/SQL block (first word BEGIN or
// DECLARE) with a line "/" instead; blanks at either end go, line breaks outside literals
// and quoted names become CRLF, and the result ends with CRLF, so that statements can be
// joined as they are.
std::string RunnableStatement(std::string_view text, std::span<const TSqlValue> values);

// Whether a Binds cell's value is one a statement can take: neither "?" nor "<...>".
bool IsLiteralValue(std::string_view value);
