// wildcard.h - matching a selection pattern against an entry's match path.
// A small automaton over the pattern's positions: no allocation, no
// backtracking, at most 21 live states per name character.
#pragma once

// Pattern syntax, byte for byte (no case folding; callers upper-case both):
//   *          any run of name bytes, "\" included; a run of "*" acts as one
//   ?          exactly one name byte, whatever it is
//   /x         the byte x itself (so "/*", "/?", "/<", "//")
//   <...>      one name byte in the set; "<|...>" one byte not in it.
//              "a-z" is a range of unsigned byte values unless the "-" stands
//              right after "<" or right before ">"; "/x" is a literal member;
//              a set ends at the first ">" after its "<".
//   other      that same byte
//
// Returns true when the whole name is described by the whole pattern. A set
// without its ">" makes the match fail as soon as a state reaches it. A
// pattern that needs more than 21 states at once loses its furthest states
// and may then fail on names it describes. A pattern or name nullptr gives
// false.
[[nodiscard]] bool MatchWildcard(const char* pattern, const char* name);
