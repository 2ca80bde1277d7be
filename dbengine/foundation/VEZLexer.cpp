#include "dbengine/foundation/VEZLexer.h"

#include <array>
#include <cstddef>
#include <limits>
#include <string>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/foundation/VEZVariant.h"
#include "platform/core/CheckedMath.h"

namespace vez {

namespace {

// Error numbers raised from more than one place in this file.
constexpr std::int32_t kErrorUnterminated = 30061;   // a comment or string without its end
constexpr std::int32_t kErrorParamNotFound = 30358;  // a parameter without a value

}  // namespace

namespace {

constexpr std::array<std::string_view, 12> kTokenTypeNames = {
    "tktNone",  "tktString",       "tktQuotedString", "tktBracketedString", "tktInt",
    "tktFloat", "tktReservedWord", "tktParameter",    "tktLeftParenthesis", "tktRightParenthesis",
    "tktComma", "tktDot"};

bool IsWhite(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsNumber(const TToken& token) {
  return token.TokenType == tktInt || token.TokenType == tktFloat;
}

// What a caller sees when there is no token: no kind, no text, nor anything
// that could be taken for an operator; the last position is kept for messages.
void MarkNoToken(TToken& token) {
  token.TokenType = tktNone;
  token.ReservedWord = rwNone;
  token.Text.clear();
  token.ParamValue.reset();
}

// One pass over the script that fills the lexer's commands. A token is open
// while characters may still be appended to it; a command is open from its
// first token to its ";" or the end of the script.
class TScanner {
 public:
  TScanner(std::string_view sql, const TVEZSQLParams* params, bool no_params,
           std::vector<TSQLCommand>& commands)
      : sql_(sql), params_(params), no_params_(no_params), commands_(commands) {}

  void Run() {
    while (pos_ < sql_.size()) {
      const char c = sql_[pos_];
      if (c == ';') {
        EndCommand();
        ++pos_;  // the semicolon is not counted in the column
        continue;
      }
      if (c == '-' && Peek(1) == '-') {
        LineComment();
        continue;
      }
      if (c == '/' && Peek(1) == '*') {
        BlockComment();
        continue;
      }
      const bool starts = StartsToken(c);
      if (token_open_ && (IsWhite(c) || starts)) FinishToken(false);
      if (starts) {
        StartToken(c);  // counts and consumes its own characters
        prev_ = c;
        continue;
      }
      if (token_open_) ContinueToken(c);
      Count(c);
      prev_ = c;
      ++pos_;
    }
    EndCommand();
  }

 private:
  // Past the end of the script the scanner sees a space.
  char Peek(std::size_t offset) const {
    return pos_ + offset < sql_.size() ? sql_[pos_ + offset] : ' ';
  }

  void Count(char c) {
    if (c == '\n') {
      NewLine();
    } else if (c != '\r') {
      column_ = platform::CheckedAdd<std::int32_t>(column_, 1);
    }
  }
  void NewLine() {
    line_ = platform::CheckedAdd<std::int32_t>(line_, 1);
    column_ = 1;
  }

  TToken& Token() { return commands_.back().Tokens.back(); }

  bool StartsToken(char c) {
    // White space never starts a token, not even right after a dot.
    if (IsWhite(c)) return false;
    if (!token_open_) return true;
    switch (c) {
      case '>':
      case '<':
      case '=':
      case '(':
      case ')':
      case ',':
      case '/':
      case '*':
      case ':':
      case '?':
      case '|':
        return true;
      default:
        break;
    }
    const TToken& token = Token();
    if (c == '.' && !IsNumber(token)) return true;
    if (token.TokenType == tktDot && !IsDigit(c)) return true;
    if (c == '+' || c == '-') {
      if (IsNumber(token) && prev_ != 'E' && prev_ != 'e') return true;
      if (token.TokenType == tktString) return true;
    }
    return false;
  }

  void StartToken(char c) {
    if (!command_open_) {
      commands_.emplace_back();
      command_open_ = true;
      depth_ = 0;
    }
    TToken& token = commands_.back().Tokens.emplace_back();
    token.Text.assign(1, c);
    token.LineNum = line_;
    token.ColumnNum = column_;
    token_open_ = true;

    const char next = Peek(1);
    if (c == '\'' || c == '"' || c == '`' || c == '[' ||
        (c == ':' && (next == '"' || next == '\'' || next == '['))) {
      ReadQuoted(c);
      return;
    }

    Count(c);
    ++pos_;
    switch (c) {
      case '(':
        token.TokenType = tktLeftParenthesis;
        token_open_ = false;
        ++depth_;
        left_line_ = token.LineNum;
        left_column_ = token.ColumnNum;
        return;
      case ')':
        token.TokenType = tktRightParenthesis;
        token_open_ = false;
        --depth_;
        right_line_ = token.LineNum;
        right_column_ = token.ColumnNum;
        return;
      case '.':
        token.TokenType = tktDot;
        return;
      case ',':
        token.TokenType = tktComma;
        token_open_ = false;
        return;
      default:
        token.TokenType = IsDigit(c) ? tktInt : tktString;
        break;
    }

    switch (c) {
      case '-':
      case '+':
      case '*':
      case '/':
      case '=':
        FinishToken(false);
        return;
      case '|':
      case '<':
      case '>':
        if ((c == '|' && next == '|') || (c == '<' && (next == '=' || next == '>')) ||
            (c == '>' && next == '=')) {
          token.Text += next;
          Count(next);
          ++pos_;
        }
        FinishToken(false);
        return;
      default:
        return;
    }
  }

  // Reads a quoted, bracketed or backtick string, or a ":" parameter name in
  // quotes or brackets, up to its closing character, and finishes the token.
  void ReadQuoted(char c) {
    TToken& token = Token();
    char open = c;
    if (c == ':') {
      token.TokenType = tktString;  // the text keeps its ":" from StartToken
      ++pos_;                       // onto the quote; the colon is not counted in the column
      open = sql_[pos_];
    } else if (c == '[') {
      token.Text.clear();
      token.TokenType = tktBracketedString;
    } else if (c == '`') {
      token.Text.clear();
      token.TokenType = tktString;
    } else {
      token.Text.clear();
      token.TokenType = tktQuotedString;
    }
    const bool backtick = (c == '`');
    const char close = (open == '[') ? ']' : open;
    string_line_ = token.LineNum;
    string_column_ = token.ColumnNum;
    string_open_ = true;
    Count(open);
    ++pos_;
    while (pos_ < sql_.size()) {
      char ch = sql_[pos_];
      if (backtick && ch == '\\') {
        // The backslash is dropped and not counted; the character after it
        // still closes the string.
        ++pos_;
        if (pos_ >= sql_.size()) break;
        ch = sql_[pos_];
      }
      if (ch == close) {
        Count(ch);
        ++pos_;
        if (pos_ < sql_.size() && sql_[pos_] == close) {
          token.Text += close;  // a doubled closing character stands for one
          Count(close);
          ++pos_;
          continue;
        }
        string_open_ = false;
        break;
      }
      token.Text += ch;
      Count(ch);
      ++pos_;
    }
    FinishToken(backtick);
  }

  void ContinueToken(char c) {
    TToken& token = Token();
    if (IsNumber(token)) {
      if (!IsDigit(c) && c != '.' && c != 'E' && c != 'e' && c != '+' && c != '-') {
        throw EVEZException(30062, "Invalid numeric symbol '%s' at line %d, column %d",
                            {std::string(1, c), line_, column_});
      }
    } else if (token.TokenType == tktDot && IsDigit(c)) {
      token.TokenType = tktInt;
    }
    token.Text += c;
  }

  // A comment is white space: it ends the token before it.
  void LineComment() {
    if (token_open_) FinishToken(false);
    NewLine();
    const std::size_t line_feed = sql_.find('\n', pos_ + 2);
    pos_ = (line_feed == std::string_view::npos) ? sql_.size() : line_feed + 1;
    prev_ = ' ';
  }

  void BlockComment() {
    if (token_open_) FinishToken(false);
    const std::int32_t start_line = line_;
    const std::int32_t start_column = column_;
    column_ = platform::CheckedAdd<std::int32_t>(column_, 2);
    pos_ += 2;
    while (pos_ < sql_.size()) {
      if (sql_[pos_] == '*' && Peek(1) == '/') {
        column_ = platform::CheckedAdd<std::int32_t>(column_, 2);
        pos_ += 2;
        prev_ = ' ';
        return;
      }
      Count(sql_[pos_]);
      ++pos_;
    }
    // Ending the script silently here would drop the rest of a statement
    // without a word; say where the comment began instead.
    throw EVEZException(kErrorUnterminated, "Unterminated comment at line %d, column %d",
                        {start_line, start_column});
  }

  // backtick_word: a word written in backticks is a name as it stands, never a
  // reserved word or a parameter marker.
  void FinishToken(bool backtick_word) {
    TToken& token = Token();
    token_open_ = false;
    if (token.TokenType == tktInt) {
      if (token.Text.find('.') != std::string::npos ||
          token.Text.find_first_of("Ee") != std::string::npos) {
        token.TokenType = tktFloat;
      }
      return;
    }
    if (token.TokenType != tktString || backtick_word) return;
    if (!no_params_ && !token.Text.empty() && (token.Text[0] == ':' || token.Text[0] == '?')) {
      BindParameter(token);
      return;
    }
    // Index 0 ("ABSOLUTE") is deliberately left an ordinary word.
    const std::int32_t word = FindReservedWord(token.Text);
    if (word > 0) {
      token.TokenType = tktReservedWord;
      token.ReservedWord = static_cast<TReservedWord>(word);
    }
  }

  void BindParameter(TToken& token) {
    token.TokenType = tktParameter;
    const TVEZSQLParam* param = nullptr;
    if (token.Text[0] == ':') {
      token.Text.erase(0, 1);
      if (params_ != nullptr) param = params_->GetParamByName(token.Text);
      if (param == nullptr) {
        throw EVEZException(kErrorParamNotFound, "Value for parameter '%s' not found",
                            {token.Text});
      }
    } else {
      const std::int32_t position = positional_count_;
      positional_count_ = platform::CheckedAdd<std::int32_t>(positional_count_, 1);
      token.Text = "Param" + std::to_string(static_cast<std::int64_t>(position) + 1);
      if (params_ == nullptr)
        throw EVEZException(kErrorParamNotFound, "Value for parameter '%s' not found", {""});
      // More markers than values is the caller's mistake, reported like a
      // missing named value rather than as an index fault.
      if (position >= params_->Count()) {
        throw EVEZException(kErrorParamNotFound, "Value for parameter '%s' not found",
                            {token.Text});
      }
      param = &params_->GetValue(position);
    }
    auto value = std::make_shared<TVEZVariant>();
    value->Assign(*param, true);
    token.ParamValue = std::move(value);
  }

  void EndCommand() {
    if (token_open_) FinishToken(false);
    command_open_ = false;
    prev_ = ' ';
    if (depth_ > 0) {
      throw EVEZException(30059, "Missing symbol ')' at line %d, column %d",
                          {left_line_, left_column_});
    }
    if (depth_ < 0) {
      throw EVEZException(30060, "Unexpected symbol ')' found at line %d, column %d",
                          {right_line_, right_column_});
    }
    if (string_open_) {
      throw EVEZException(kErrorUnterminated, "Unterminated string at line %d, column %d",
                          {string_line_, string_column_});
    }
  }

  std::string_view sql_;
  const TVEZSQLParams* params_;
  bool no_params_;
  std::vector<TSQLCommand>& commands_;

  std::size_t pos_ = 0;
  std::int32_t line_ = 1;
  std::int32_t column_ = 1;
  bool command_open_ = false;
  bool token_open_ = false;
  std::int64_t depth_ = 0;  // cannot wrap: bounded by the script's length
  std::int32_t left_line_ = 0;
  std::int32_t left_column_ = 0;
  std::int32_t right_line_ = 0;
  std::int32_t right_column_ = 0;
  bool string_open_ = false;
  std::int32_t string_line_ = 0;
  std::int32_t string_column_ = 0;
  std::int32_t positional_count_ = 0;
  char prev_ = ' ';
};

}  // namespace

std::string_view TokenTypeName(TTokenType type) {
  return type < kTokenTypeNames.size() ? kTokenTypeNames[type] : std::string_view();
}

bool IsReservedWord(const TToken& token, TReservedWord reserved_word) {
  return token.TokenType == tktReservedWord &&
         (reserved_word == rwNone || token.ReservedWord == reserved_word);
}

TVEZLexer::TVEZLexer(std::string sql_script, const TVEZSQLParams* sql_params, bool no_params)
    : sql_(std::move(sql_script)), sql_params_(sql_params), no_params_(no_params) {
  TScanner(sql_, sql_params_, no_params_, Commands).Run();
  CurrentCommandNo = -1;
  for (TSQLCommand& command : Commands)
    command.CurrentTokenNo = 0;
}

TSQLCommand* TVEZLexer::CurrentCommand() {
  if (CurrentCommandNo < 0 || CurrentCommandNo >= NumCommands()) return nullptr;
  return &Commands[static_cast<std::size_t>(CurrentCommandNo)];
}

const TSQLCommand* TVEZLexer::CurrentCommand() const {
  return const_cast<TVEZLexer*>(this)->CurrentCommand();
}

bool TVEZLexer::GetNextCommand() {
  if (CurrentCommandNo < NumCommands()) ++CurrentCommandNo;
  return CurrentCommandNo < NumCommands();
}

bool TVEZLexer::GetCurrentToken(TToken& token) const {
  const TSQLCommand* command = CurrentCommand();
  if (command != nullptr && command->CurrentTokenNo >= 0 &&
      command->CurrentTokenNo < command->NumTokens()) {
    token = command->Tokens[static_cast<std::size_t>(command->CurrentTokenNo)];
    return true;
  }
  MarkNoToken(token);
  return false;
}

bool TVEZLexer::LookNextToken(TToken& token) const {
  const TSQLCommand* command = CurrentCommand();
  if (command != nullptr) {
    const std::int64_t next = static_cast<std::int64_t>(command->CurrentTokenNo) + 1;
    if (next >= 0 && next < command->NumTokens()) {
      token = command->Tokens[static_cast<std::size_t>(next)];
      return true;
    }
  }
  MarkNoToken(token);
  return false;
}

bool TVEZLexer::GetNextToken(TToken& token) {
  const bool found = LookNextToken(token);
  TSQLCommand* command = CurrentCommand();
  if (command != nullptr && command->CurrentTokenNo < std::numeric_limits<std::int32_t>::max()) {
    ++command->CurrentTokenNo;
  }
  return found;
}

std::int32_t TVEZLexer::GetCurrentTokenNo() const {
  const TSQLCommand* command = CurrentCommand();
  return command != nullptr ? command->CurrentTokenNo : 0;
}

bool TVEZLexer::SetCurrentTokenNo(std::int32_t token_no, TToken& token) {
  SetCurrentTokenNo(token_no);
  return GetCurrentToken(token);
}

bool TVEZLexer::SetCurrentTokenNo(std::int32_t token_no) {
  TSQLCommand* command = CurrentCommand();
  if (command == nullptr) return false;
  command->CurrentTokenNo = token_no;
  return token_no < command->NumTokens();
}

bool TVEZLexer::GetNextSpecifiedToken(TToken& token, TTokenTypes types) {
  for (;;) {
    if (!LookNextToken(token)) return false;  // stays on the last token
    ++CurrentCommand()->CurrentTokenNo;
    if (types.Contains(token.TokenType)) return true;
  }
}

void TVEZLexer::AddCommand() {
  Commands.emplace_back();
  CurrentCommandNo = NumCommands() - 1;
}

void TVEZLexer::AddToken(const TToken& token) {
  if (CurrentCommand() == nullptr) AddCommand();
  TSQLCommand& command = *CurrentCommand();
  command.Tokens.push_back(token);
  command.CurrentTokenNo = command.NumTokens() - 1;
}

std::string TVEZLexer::Test(bool /*generate*/, bool show_details) const {
  static constexpr std::string_view kCrLf = "\r\n";
  std::string dump = "Number of commands: " + std::to_string(NumCommands());
  for (std::size_t i = 0; i < Commands.size(); ++i) {
    dump += kCrLf;
    dump += "Command #" + std::to_string(i + 1) + ":";
    dump += kCrLf;
    for (const TToken& token : Commands[i].Tokens) {
      dump += token.Text;
      dump += kCrLf;
      if (!show_details) continue;
      dump += "Type = ";
      dump += TokenTypeName(token.TokenType);
      dump += kCrLf;
      if (token.ReservedWord == rwNone) {
        dump += "ReservedWord = None";
      } else {
        dump += "ReservedWord = ";
        dump += ReservedWordText(token.ReservedWord);
      }
      dump += kCrLf;
      dump += "Line = " + std::to_string(token.LineNum);
      dump += kCrLf;
      dump += "Column = " + std::to_string(token.ColumnNum);
      dump += kCrLf;
      dump += kCrLf;
    }
  }
  return dump;
}

}  // namespace vez
