// ULike: LIKE pattern matching.
//
// LikeMatch decides whether a text matches a LIKE pattern; the WHERE "like"
// relation and the script language's like operator both call it with the
// tested text first and the pattern second. Wildcards: "%" any run of bytes
// (also none), "_" exactly one byte, "[abc]" one byte out of the listed
// ones, "[^abc]" one byte not listed. Inside brackets every byte is itself
// ("%", "_", "[", "^" and "-" too; there are no ranges). Everything works
// on bytes, case-sensitively: a multi-byte UTF-8 character counts as
// several bytes for "_" and for a set.
//
// Two shortcuts come first: a text equal to the pattern byte for byte
// matches (so "[a]" matches the text "[a]" as well as "a"), and otherwise an
// empty text or an empty pattern matches nothing.
//
// Decisions beyond the classic rules:
//   - A pattern may need any number of nodes.
//   - A "[" without a closing "]" stands for itself and the rest of the
//     pattern keeps its wildcards: "[draft%" finds texts beginning with
//     "[draft". A user who writes an unmatched bracket almost always means
//     the bracket character.
//   - Empty sets ("[]", "[^]") vanish, so "a[]b" is "ab". A pattern of
//     nothing but empty sets therefore describes the empty text; since the
//     empty text only matches the empty pattern, such a pattern matches no
//     text except itself.
//   - Matching is bounded: instead of backtracking over every combination
//     of positions (exponential for '%a%a%a%a%a%b' on a long text), the
//     matcher carries the set of positions each node can be reached at, so
//     the cost is at most nodes x text length steps (plus the substring
//     searches) with the same results.
//
// It keeps no state between calls and allocates nothing for short patterns
// and texts. Converting operands to text is the caller's business.
#pragma once

#include <string_view>

namespace corvane {

bool LikeMatch(std::string_view text, std::string_view pattern);

}  // namespace corvane
