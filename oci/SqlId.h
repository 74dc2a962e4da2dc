// The SQL_ID by which the database names a statement (V$SQL, AWR, DBMS_XPLAN), computed
// from the statement's text alone.
#pragma once

#include <string>
#include <string_view>

// The 13-character SQL_ID of a statement's bytes exactly as the program sent them (UTF-8
// for a UTF-16 statement): the MD5 of the bytes and one NUL; of its digest the third and
// fourth little-endian 32-bit words, as one 64-bit number (third word high), written in
// base 32 with the alphabet "0123456789abcdfghjkmnpqrstuvwxyz", leading zeros kept.
// MD5 comes from the system's CNG provider; empty if the system has none to give.
// Costs a hash: compute it once per distinct text.
std::string SqlIdOf(std::string_view utf8);
