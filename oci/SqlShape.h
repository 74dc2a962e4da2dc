// The shape of a statement: its text with the literals taken out, so that statements that
// differ only in their values fall into one group.
#pragma once

#include <string>
#include <string_view>

// The shape of an Oracle SQL or PL/SQL text, made in this order: comments go, hints
// (/*+ ... */) stay as they are; string literals and numbers become "?" (a sign stays:
// "-5" is "-?"); quoted names and placeholders stay; each run of blanks and line breaks
// (and each comment) becomes one blank, none at either end; everything but quoted names
// and hints is lower-cased (ASCII letters); a list after IN of nothing but "?" and
// placeholders becomes "(?+)".
//   "SELECT * from foo where a = 5"           -> "select * from foo where a = ?"
//   "select 1 from t where b in (5, 8,9 , :x)" -> "select ? from t where b in (?+)"
std::string StatementShape(std::string_view text);
