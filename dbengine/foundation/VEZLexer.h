// TVEZLexer: splits an SQL script into commands (separated by ";") and each
// command into tokens: words, reserved words, quoted and bracketed strings,
// numbers, parameters, parentheses, commas, dots and operators, each with the
// line and column where it starts. Parameter markers (":Name", "?") take a
// copy of the caller's parameter value while the script is tokenised. The
// parser then walks the commands and tokens through the cursor operations.
//
// Thread safety: none; a lexer belongs to the one statement that created it.
// The reserved-word table it uses is immutable.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/foundation/VEZReservedWords.h"

namespace vez {

class TVEZVariant;
class TVEZSQLParams;

enum TTokenType : std::uint8_t {
  tktNone = 0,
  tktString = 1,  // a word: identifier, unquoted name or operator
  tktQuotedString = 2,
  tktBracketedString = 3,
  tktInt = 4,
  tktFloat = 5,
  tktReservedWord = 6,
  tktParameter = 7,
  tktLeftParenthesis = 8,
  tktRightParenthesis = 9,
  tktComma = 10,
  tktDot = 11,
};

// The name of a token type, "tktNone" .. "tktDot".
std::string_view TokenTypeName(TTokenType type);

// A set of token types.
class TTokenTypes {
 public:
  constexpr TTokenTypes() = default;
  constexpr TTokenTypes(std::initializer_list<TTokenType> types) {
    for (TTokenType type : types)
      Include(type);
  }
  constexpr void Include(TTokenType type) { bits_ |= Bit(type); }
  constexpr void Exclude(TTokenType type) { bits_ &= static_cast<std::uint16_t>(~Bit(type)); }
  constexpr bool Contains(TTokenType type) const { return (bits_ & Bit(type)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }

 private:
  static constexpr std::uint16_t Bit(TTokenType type) {
    return type < 16 ? static_cast<std::uint16_t>(1u << type) : 0;
  }
  std::uint16_t bits_ = 0;
};

struct TToken {
  TTokenType TokenType = tktNone;
  TReservedWord ReservedWord = rwNone;  // rwNone unless a reserved word
  // As written; quoted and bracketed strings without their delimiters; a
  // parameter's name ("Param<n>" for the n-th "?").
  std::string Text;
  // A parameter token's own copy of the parameter value; shared by the copies
  // of the token, so it lives as long as any of them. Null for other tokens.
  std::shared_ptr<TVEZVariant> ParamValue;
  std::int32_t LineNum = 0;  // 1-based position of the first character
  std::int32_t ColumnNum = 0;
};

struct TSQLCommand {
  std::vector<TToken> Tokens;  // a statement may edit them in place
  std::int32_t CurrentTokenNo = 0;

  std::int32_t NumTokens() const noexcept { return static_cast<std::int32_t>(Tokens.size()); }
};

// True when token is a reserved word and, unless reserved_word is rwNone, that
// very one.
bool IsReservedWord(const TToken& token, TReservedWord reserved_word);

class TVEZLexer {
 public:
  // Tokenises the whole script. sql_params may be null and is not owned; with
  // no_params the markers ":" and "?" stay plain words. Afterwards no command
  // is current. Raises EVEZException for a script that cannot be split:
  // 30059 missing ")", 30060 unexpected ")", 30061 unterminated string or
  // comment, 30062 invalid character in a number, 30358 parameter without a
  // value.
  TVEZLexer(std::string sql_script, const TVEZSQLParams* sql_params, bool no_params);
  TVEZLexer(const TVEZLexer&) = delete;
  TVEZLexer& operator=(const TVEZLexer&) = delete;
  ~TVEZLexer() = default;

  const std::string& SQL() const noexcept { return sql_; }
  std::int32_t NumCommands() const noexcept { return static_cast<std::int32_t>(Commands.size()); }

  // Makes the next command current; False once past the last one.
  bool GetNextCommand();
  // Copies the current command's current token into token. Without one, token
  // becomes tktNone with empty text and rwNone (position kept) and False.
  bool GetCurrentToken(TToken& token) const;
  // The token after the current one, without moving; tktNone and False when
  // there is none.
  bool LookNextToken(TToken& token) const;
  // LookNextToken, then moves one token on (also when there was none).
  bool GetNextToken(TToken& token);
  std::int32_t GetCurrentTokenNo() const;
  // Moves to token_no (-1 is allowed: the next GetNextToken gives token 0) and
  // returns GetCurrentToken.
  bool SetCurrentTokenNo(std::int32_t token_no, TToken& token);
  // Moves to token_no; True when token_no < NumTokens.
  bool SetCurrentTokenNo(std::int32_t token_no);
  // Moves on until a token of one of types is found (True) or the command
  // ends (False; token is then tktNone).
  bool GetNextSpecifiedToken(TToken& token, TTokenTypes types);

  // For statements the engine generates itself: appends an empty command and
  // makes it current; appends a copy of token to the current command (opening
  // a command when none is current) and makes it the current token.
  void AddCommand();
  void AddToken(const TToken& token);

  // A text dump of the commands and their tokens; show_details adds each
  // token's type, reserved word, line and column. generate has no effect.
  std::string Test(bool generate, bool show_details) const;

  std::vector<TSQLCommand> Commands;
  std::int32_t CurrentCommandNo = -1;

 private:
  TSQLCommand* CurrentCommand();
  const TSQLCommand* CurrentCommand() const;

  std::string sql_;
  const TVEZSQLParams* sql_params_;
  bool no_params_;
};

}  // namespace vez
