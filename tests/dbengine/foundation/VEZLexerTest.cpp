#include "dbengine/foundation/VEZLexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dbengine/foundation/VEZException.h"
#include "dbengine/foundation/VEZSQLParams.h"
#include "dbengine/foundation/VEZVariant.h"

namespace vez {
namespace {

struct ExpectedToken {
  int command;
  TTokenType type;
  std::string text;
  TReservedWord word;
  int line;
  int column;
};

struct ScriptCase {
  std::string name;
  std::string sql;
  int commands;
  std::vector<ExpectedToken> tokens;
};

void ExpectTokens(const TVEZLexer& lexer, const ScriptCase& row) {
  ASSERT_EQ(lexer.NumCommands(), row.commands);
  std::size_t next = 0;
  for (int c = 0; c < lexer.NumCommands(); ++c) {
    for (const TToken& token : lexer.Commands[c].Tokens) {
      ASSERT_LT(next, row.tokens.size()) << "extra token " << token.Text;
      const ExpectedToken& want = row.tokens[next++];
      SCOPED_TRACE("token " + std::to_string(next) + " '" + want.text + "'");
      EXPECT_EQ(c, want.command);
      EXPECT_EQ(TokenTypeName(token.TokenType), TokenTypeName(want.type));
      EXPECT_EQ(token.Text, want.text);
      EXPECT_EQ(token.ReservedWord, want.word);
      EXPECT_EQ(token.LineNum, want.line);
      EXPECT_EQ(token.ColumnNum, want.column);
      EXPECT_EQ(token.ParamValue, nullptr);
    }
  }
  EXPECT_EQ(next, row.tokens.size()) << "missing tokens";
}

constexpr TTokenType S = tktString;
constexpr TTokenType Q = tktQuotedString;
constexpr TTokenType B = tktBracketedString;
constexpr TTokenType I = tktInt;
constexpr TTokenType F = tktFloat;
constexpr TTokenType R = tktReservedWord;
constexpr TTokenType LP = tktLeftParenthesis;
constexpr TTokenType RP = tktRightParenthesis;
constexpr TTokenType CM = tktComma;
constexpr TTokenType DT = tktDot;
constexpr TReservedWord N = rwNone;

TEST(VEZLexer, ScriptsToTokens) {
  const std::vector<ScriptCase> cases = {
      {"empty commands vanish; semicolons are not counted in the column",
       "SELECT * FROM t; ;; UPDATE t SET a=1",
       2,
       {{0, R, "SELECT", rwSELECT, 1, 1},
        {0, S, "*", N, 1, 8},
        {0, R, "FROM", rwFROM, 1, 10},
        {0, S, "t", N, 1, 15},
        {1, R, "UPDATE", rwUPDATE, 1, 18},
        {1, S, "t", N, 1, 25},
        {1, R, "SET", rwSET, 1, 27},
        {1, S, "a", N, 1, 31},
        {1, S, "=", N, 1, 32},
        {1, I, "1", N, 1, 33}}},
      {"keywords in any case; the first table word is never one",
       "select Absolute sElEcT ABSOLUTE",
       1,
       {{0, R, "select", rwSELECT, 1, 1},
        {0, S, "Absolute", N, 1, 8},
        {0, R, "sElEcT", rwSELECT, 1, 17},
        {0, S, "ABSOLUTE", N, 1, 24}}},
      {"quoting",
       "'It''s' [order] \"d\"\"q\" `bt` ''",
       1,
       {{0, Q, "It's", N, 1, 1},
        {0, B, "order", N, 1, 9},
        {0, Q, "d\"q", N, 1, 17},
        {0, S, "bt", N, 1, 24},
        {0, Q, "", N, 1, 29}}},
      {"semicolons and comment markers inside quotes are text",
       "'a;b--c/*d' x",
       1,
       {{0, Q, "a;b--c/*d", N, 1, 1}, {0, S, "x", N, 1, 13}}},
      {"a quoted line feed moves to the next line",
       "'a\nb' x",
       1,
       {{0, Q, "a\nb", N, 1, 1}, {0, S, "x", N, 2, 4}}},
      {"a backtick name is a name even when it reads as a keyword",
       "`select` `sel``ect` `a\\b`",
       1,
       {{0, S, "select", N, 1, 1}, {0, S, "sel`ect", N, 1, 10}, {0, S, "ab", N, 1, 21}}},
      {"numbers",
       "1.5 2E10 1e+5 .5 12 1+2 1e-5-2",
       1,
       {{0, F, "1.5", N, 1, 1},
        {0, F, "2E10", N, 1, 5},
        {0, F, "1e+5", N, 1, 10},
        {0, F, ".5", N, 1, 15},
        {0, I, "12", N, 1, 18},
        {0, I, "1", N, 1, 21},
        {0, S, "+", N, 1, 22},
        {0, I, "2", N, 1, 23},
        {0, F, "1e-5", N, 1, 25},
        {0, S, "-", N, 1, 29},
        {0, I, "2", N, 1, 30}}},
      {"operators",
       "a<>b a<=b a>=b a||b a<b a|b c>d",
       1,
       {{0, S, "a", N, 1, 1},  {0, S, "<>", N, 1, 2},  {0, S, "b", N, 1, 4},
        {0, S, "a", N, 1, 6},  {0, S, "<=", N, 1, 7},  {0, S, "b", N, 1, 9},
        {0, S, "a", N, 1, 11}, {0, S, ">=", N, 1, 12}, {0, S, "b", N, 1, 14},
        {0, S, "a", N, 1, 16}, {0, S, "||", N, 1, 17}, {0, S, "b", N, 1, 19},
        {0, S, "a", N, 1, 21}, {0, S, "<", N, 1, 22},  {0, S, "b", N, 1, 23},
        {0, S, "a", N, 1, 25}, {0, S, "|", N, 1, 26},  {0, S, "b", N, 1, 27},
        {0, S, "c", N, 1, 29}, {0, S, ">", N, 1, 30},  {0, S, "d", N, 1, 31}}},
      {"words split at + and -; other signs end a word",
       "a-b x/y*z n=-1",
       1,
       {{0, S, "a", N, 1, 1},
        {0, S, "-", N, 1, 2},
        {0, S, "b", N, 1, 3},
        {0, S, "x", N, 1, 5},
        {0, S, "/", N, 1, 6},
        {0, S, "y", N, 1, 7},
        {0, S, "*", N, 1, 8},
        {0, S, "z", N, 1, 9},
        {0, S, "n", N, 1, 11},
        {0, S, "=", N, 1, 12},
        {0, S, "-", N, 1, 13},
        {0, I, "1", N, 1, 14}}},
      {"dots, parentheses and commas",
       "t.a t.* 1.2.3 COUNT(a,b)",
       1,
       {{0, S, "t", N, 1, 1},
        {0, DT, ".", N, 1, 2},
        {0, S, "a", N, 1, 3},
        {0, S, "t", N, 1, 5},
        {0, DT, ".", N, 1, 6},
        {0, S, "*", N, 1, 7},
        {0, F, "1.2.3", N, 1, 9},
        {0, R, "COUNT", rwCOUNT, 1, 15},
        {0, LP, "(", N, 1, 20},
        {0, S, "a", N, 1, 21},
        {0, CM, ",", N, 1, 22},
        {0, S, "b", N, 1, 23},
        {0, RP, ")", N, 1, 24}}},
      {"white space after a dot never starts a token",
       "t.\tx t.\ny",
       1,
       {{0, S, "t", N, 1, 1},
        {0, DT, ".", N, 1, 2},
        {0, S, "x", N, 1, 4},
        {0, S, "t", N, 1, 6},
        {0, DT, ".", N, 1, 7},
        {0, S, "y", N, 2, 1}}},
      {"lines, tabs and carriage returns",
       "a\n\n\tb\r\nc\r d;\r\ne",
       2,
       {{0, S, "a", N, 1, 1},
        {0, S, "b", N, 3, 2},
        {0, S, "c", N, 4, 1},
        {0, S, "d", N, 4, 3},
        {1, S, "e", N, 5, 1}}},
      {"a line comment moves to the next line",
       "SELECT a -- note; not a command\nFROM t",
       1,
       {{0, R, "SELECT", rwSELECT, 1, 1},
        {0, S, "a", N, 1, 8},
        {0, R, "FROM", rwFROM, 2, 1},
        {0, S, "t", N, 2, 6}}},
      {"a comment ends the word before it",
       "FROM t--x\nWHERE a/*c*/b",
       1,
       {{0, R, "FROM", rwFROM, 1, 1},
        {0, S, "t", N, 1, 6},
        {0, R, "WHERE", rwWHERE, 2, 1},
        {0, S, "a", N, 2, 7},
        {0, S, "b", N, 2, 13}}},
      {"a block comment counts its lines and columns",
       "a /* x;\ny */ b",
       1,
       {{0, S, "a", N, 1, 1}, {0, S, "b", N, 2, 6}}},
      {"only comments and blanks give no command", " -- c\n /* d */ ;\t;", 0, {}},
      {"parameter markers stay words without parameters",
       ":Name ? ?x",
       1,
       {{0, S, ":Name", N, 1, 1}, {0, S, "?", N, 1, 7}, {0, S, "?x", N, 1, 9}}},
      {"a quoted parameter name drops its colon from the count",
       ":\"my p\" :[q] x",
       1,
       {{0, S, ":my p", N, 1, 1}, {0, S, ":q", N, 1, 8}, {0, S, "x", N, 1, 12}}},
  };
  for (const ScriptCase& row : cases) {
    SCOPED_TRACE(row.name);
    TVEZLexer lexer(row.sql, nullptr, true);
    ExpectTokens(lexer, row);
  }
}

TEST(VEZLexer, EveryKeywordIsRecognisedExceptTheFirst) {
  for (int i = 1; i < kReservedWordCount; ++i) {
    if (i == rwEND_EXEC) continue;  // "-" always splits a word
    std::string word(ReservedWords[i]);
    for (char& c : word) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    SCOPED_TRACE(word);
    TVEZLexer lexer(word, nullptr, false);
    ASSERT_EQ(lexer.NumCommands(), 1);
    ASSERT_EQ(lexer.Commands[0].NumTokens(), 1);
    const TToken& token = lexer.Commands[0].Tokens[0];
    EXPECT_EQ(token.TokenType, tktReservedWord);
    EXPECT_EQ(token.ReservedWord, static_cast<TReservedWord>(i));
    EXPECT_TRUE(IsReservedWord(token, static_cast<TReservedWord>(i)));
    EXPECT_TRUE(IsReservedWord(token, rwNone));
  }
  TVEZLexer lexer("absolute END-EXEC", nullptr, false);
  const auto& tokens = lexer.Commands[0].Tokens;
  ASSERT_EQ(tokens.size(), 4u);
  EXPECT_EQ(tokens[0].TokenType, tktString);
  EXPECT_FALSE(IsReservedWord(tokens[0], rwNone));
  EXPECT_FALSE(IsReservedWord(tokens[0], rwABSOLUTE));
  EXPECT_EQ(tokens[1].ReservedWord, rwEND);
  EXPECT_FALSE(IsReservedWord(tokens[1], rwEND_EXEC));
  EXPECT_EQ(tokens[2].Text, "-");
  EXPECT_EQ(tokens[3].ReservedWord, rwEXEC);
}

struct ErrorCase {
  std::string sql;
  int code;
  std::string text;
};

TEST(VEZLexer, ErrorsCarryNumberAndPosition) {
  const std::vector<ErrorCase> cases = {
      {"SELECT (a FROM t", 30059, "Missing symbol ')' at line 1, column 8"},
      {"((a)", 30059, "Missing symbol ')' at line 1, column 2"},
      {"SELECT 1;\nSELECT f((2)", 30059, "Missing symbol ')' at line 2, column 10"},
      {"SELECT a) FROM t", 30060, "Unexpected symbol ')' found at line 1, column 9"},
      {"(a))\n)", 30060, "Unexpected symbol ')' found at line 2, column 1"},
      {"SELECT 'abc", 30061, "Unterminated string at line 1, column 8"},
      {"SELECT\n  x FROM [a", 30061, "Unterminated string at line 2, column 10"},
      {"`a\\", 30061, "Unterminated string at line 1, column 1"},
      {"SELECT ('abc", 30059, "Missing symbol ')' at line 1, column 8"},
      {"a /* x", 30061, "Unterminated comment at line 1, column 3"},
      {"a;\n b /* x */ c /*", 30061, "Unterminated comment at line 2, column 14"},
      {"12abc", 30062, "Invalid numeric symbol 'a' at line 1, column 3"},
      {"SELECT\n\t1.5'x'", 30062, "Invalid numeric symbol ''' at line 2, column 5"},
      {".5a", 30062, "Invalid numeric symbol 'a' at line 1, column 3"},
      {"SELECT :x", 30358, "Value for parameter 'x' not found"},
      {"SELECT ?", 30358, "Value for parameter '' not found"},
  };
  for (const ErrorCase& row : cases) {
    SCOPED_TRACE(row.sql);
    try {
      TVEZLexer lexer(row.sql, nullptr, false);
      ADD_FAILURE() << "no error raised";
    } catch (const EVEZException& e) {
      EXPECT_EQ(e.NativeError(), row.code);
      EXPECT_EQ(e.Message().substr(0, row.text.size()), row.text) << e.Message();
    }
  }
}

class VEZLexerParams : public ::testing::Test {
 protected:
  void SetUp() override {
    TVEZSQLParam& first = params_.AddCreated();
    first.Name = "NAME";
    first.SetAsInteger(42);
    TVEZSQLParam& second = params_.AddCreated();
    second.Name = "my p";
    second.SetAsAnsiString("text");
  }
  TVEZSQLParams params_;
};

TEST_F(VEZLexerParams, ByNameTakesACopyOfTheValue) {
  TVEZLexer lexer("SELECT :Name, :\"MY P\", :[name] FROM t", &params_, false);
  const auto& tokens = lexer.Commands[0].Tokens;
  ASSERT_EQ(tokens.size(), 8u);
  EXPECT_EQ(tokens[1].TokenType, tktParameter);
  EXPECT_EQ(tokens[1].Text, "Name");
  EXPECT_EQ(tokens[1].ReservedWord, rwNone);
  EXPECT_EQ(tokens[1].ColumnNum, 8);
  ASSERT_NE(tokens[1].ParamValue, nullptr);
  EXPECT_EQ(tokens[1].ParamValue->GetAsInteger(), 42);
  EXPECT_EQ(tokens[3].TokenType, tktParameter);
  EXPECT_EQ(tokens[3].Text, "MY P");
  EXPECT_EQ(tokens[3].ParamValue->GetAsAnsiString(), "text");
  EXPECT_EQ(tokens[5].Text, "name");
  EXPECT_EQ(tokens[5].ParamValue->GetAsInteger(), 42);
  EXPECT_NE(tokens[1].ParamValue, tokens[5].ParamValue);  // each marker its own copy

  // Later changes of the list do not reach the lexer; copies of a token keep
  // the value alive after the lexer is gone.
  params_.GetValue(0).SetAsInteger(7);
  params_.Clear();
  TToken kept = tokens[1];
  EXPECT_EQ(kept.ParamValue->GetAsInteger(), 42);
}

TEST_F(VEZLexerParams, ByPositionAcrossCommands) {
  TVEZLexer lexer("SELECT ? FROM t;\nSELECT a = ?x", &params_, false);
  ASSERT_EQ(lexer.NumCommands(), 2);
  const TToken& first = lexer.Commands[0].Tokens[1];
  const TToken& second = lexer.Commands[1].Tokens[3];
  EXPECT_EQ(first.TokenType, tktParameter);
  EXPECT_EQ(first.Text, "Param1");
  EXPECT_EQ(first.ParamValue->GetAsInteger(), 42);
  EXPECT_EQ(second.TokenType, tktParameter);
  EXPECT_EQ(second.Text, "Param2");
  EXPECT_EQ(second.ParamValue->GetAsAnsiString(), "text");
  EXPECT_EQ(second.LineNum, 2);
  EXPECT_EQ(second.ColumnNum, 12);

  // A third marker has no value: the engine's error, not an index fault.
  try {
    TVEZLexer more("SELECT ?, ?, ?", &params_, false);
    ADD_FAILURE() << "no error raised";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30358);
    EXPECT_EQ(e.Message().rfind("Value for parameter 'Param3' not found", 0), 0u) << e.Message();
  }
}

TEST_F(VEZLexerParams, UnknownNameAndNoParams) {
  try {
    TVEZLexer lexer("SELECT :other", &params_, false);
    ADD_FAILURE() << "no error raised";
  } catch (const EVEZException& e) {
    EXPECT_EQ(e.NativeError(), 30358);
  }
  TVEZLexer lexer("SELECT :other, ?", &params_, true);
  const auto& tokens = lexer.Commands[0].Tokens;
  EXPECT_EQ(tokens[1].TokenType, tktString);
  EXPECT_EQ(tokens[1].Text, ":other");
  EXPECT_EQ(tokens[3].TokenType, tktString);
  EXPECT_EQ(tokens[3].ParamValue, nullptr);
}

TEST(VEZLexer, CursorOperations) {
  TVEZLexer lexer("SELECT a, b FROM t; DELETE FROM u", nullptr, false);
  TToken token;
  EXPECT_EQ(lexer.CurrentCommandNo, -1);
  EXPECT_FALSE(lexer.GetCurrentToken(token));  // no command yet

  ASSERT_TRUE(lexer.GetNextCommand());
  ASSERT_TRUE(lexer.GetCurrentToken(token));
  EXPECT_EQ(token.Text, "SELECT");
  ASSERT_TRUE(lexer.LookNextToken(token));
  EXPECT_EQ(token.Text, "a");
  EXPECT_EQ(lexer.GetCurrentTokenNo(), 0);  // looking does not move
  ASSERT_TRUE(lexer.GetNextToken(token));
  EXPECT_EQ(token.Text, "a");
  EXPECT_EQ(lexer.GetCurrentTokenNo(), 1);

  ASSERT_TRUE(lexer.GetNextSpecifiedToken(token, {tktReservedWord}));
  EXPECT_EQ(token.ReservedWord, rwFROM);
  EXPECT_EQ(lexer.GetCurrentTokenNo(), 4);
  EXPECT_FALSE(lexer.GetNextSpecifiedToken(token, {tktComma, tktDot}));
  EXPECT_EQ(token.TokenType, tktNone);
  EXPECT_EQ(lexer.GetCurrentTokenNo(), 5);  // stays on the last token

  // Past the end: tktNone with empty text; the position of the last token is
  // kept for messages, and the cursor still moves on.
  EXPECT_FALSE(lexer.GetNextToken(token));
  EXPECT_EQ(token.TokenType, tktNone);
  EXPECT_EQ(token.Text, "");
  EXPECT_EQ(token.ReservedWord, rwNone);
  EXPECT_EQ(token.ColumnNum, 18);
  EXPECT_EQ(lexer.GetCurrentTokenNo(), 6);
  EXPECT_FALSE(lexer.GetCurrentToken(token));
  EXPECT_EQ(token.TokenType, tktNone);

  EXPECT_TRUE(lexer.SetCurrentTokenNo(2, token));
  EXPECT_EQ(token.TokenType, tktComma);
  EXPECT_FALSE(lexer.SetCurrentTokenNo(6));
  EXPECT_TRUE(lexer.SetCurrentTokenNo(-1));  // the next token is then token 0
  EXPECT_FALSE(lexer.GetCurrentToken(token));
  ASSERT_TRUE(lexer.GetNextToken(token));
  EXPECT_EQ(token.Text, "SELECT");

  ASSERT_TRUE(lexer.GetNextCommand());
  ASSERT_TRUE(lexer.GetCurrentToken(token));
  EXPECT_EQ(token.ReservedWord, rwDELETE);
  EXPECT_FALSE(lexer.GetNextCommand());
  EXPECT_FALSE(lexer.GetNextCommand());
  EXPECT_FALSE(lexer.GetCurrentToken(token));
  EXPECT_FALSE(lexer.GetNextToken(token));
}

TEST(VEZLexer, AddCommandAndToken) {
  TVEZLexer lexer("", nullptr, false);
  EXPECT_EQ(lexer.NumCommands(), 0);
  TToken token;
  token.TokenType = tktString;
  token.Text = "x";
  lexer.AddToken(token);  // opens a command when none is current
  lexer.AddCommand();
  EXPECT_EQ(lexer.CurrentCommandNo, 1);
  token.Text = "y";
  lexer.AddToken(token);
  token.Text = "z";
  lexer.AddToken(token);
  ASSERT_EQ(lexer.NumCommands(), 2);
  EXPECT_EQ(lexer.Commands[0].Tokens[0].Text, "x");
  EXPECT_EQ(lexer.Commands[1].NumTokens(), 2);
  EXPECT_EQ(lexer.GetCurrentTokenNo(), 1);
  TToken current;
  ASSERT_TRUE(lexer.GetCurrentToken(current));
  EXPECT_EQ(current.Text, "z");
}

TEST(VEZLexer, TextDump) {
  TVEZLexer lexer("select x;\n'q'", nullptr, false);
  EXPECT_EQ(lexer.Test(false, false),
            "Number of commands: 2\r\nCommand #1:\r\nselect\r\nx\r\n\r\nCommand #2:\r\nq\r\n");
  EXPECT_EQ(
      lexer.Test(true, true),
      "Number of commands: 2\r\nCommand #1:\r\n"
      "select\r\nType = tktReservedWord\r\nReservedWord = SELECT\r\nLine = 1\r\nColumn = 1\r\n\r\n"
      "x\r\nType = tktString\r\nReservedWord = None\r\nLine = 1\r\nColumn = 8\r\n\r\n"
      "\r\nCommand #2:\r\n"
      "q\r\nType = tktQuotedString\r\nReservedWord = None\r\nLine = 2\r\nColumn = 1\r\n\r\n");
}

// Random scripts built from known tokens, joined by random white space,
// comments and command separators, must give back exactly those tokens with
// the positions an independent count of the rendered text gives.
class ScriptModel {
 public:
  explicit ScriptModel(std::uint32_t seed) : random_(seed) {}

  void Build(std::string& sql, std::vector<std::vector<ExpectedToken>>& commands) {
    const int command_count = 1 + static_cast<int>(random_() % 3);
    for (int c = 0; c < command_count; ++c) {
      commands.emplace_back();
      int depth = 0;
      const int token_count = 1 + static_cast<int>(random_() % 12);
      for (int t = 0; t < token_count || depth > 0; ++t) {
        if (t > 0) Separator(sql);
        if (t >= token_count) {
          Emit(sql, commands.back(), tktRightParenthesis, ")", ")");
          --depth;
          continue;
        }
        AddToken(sql, commands.back(), depth);
      }
      Separator(sql);
      AppendUncounted(sql, ';');
      if (random_() % 2 == 0) Separator(sql);
    }
  }

 private:
  void AddToken(std::string& sql, std::vector<ExpectedToken>& tokens, int& depth) {
    static const char* const kOperators[] = {"=", "<>", "<=", ">=", "<",  ">",
                                             "+", "-",  "*",  "/",  "||", "|"};
    switch (random_() % 11) {
      case 0:
      case 1: {  // a word, sometimes a keyword in random case
        std::string word;
        if (random_() % 2 == 0) {
          word = std::string(ReservedWords[random_() % kReservedWordCount]);
          if (word.find('-') != std::string::npos) word = "x";
          for (char& ch : word) {
            if (ch >= 'A' && ch <= 'Z' && random_() % 2 == 0) ch = static_cast<char>(ch + 32);
          }
        } else {
          const std::string letters = "abcXYZ_q9";
          word = "w";
          for (std::uint32_t k = random_() % 6; k > 0; --k)
            word += letters[random_() % letters.size()];
        }
        const std::int32_t reserved = FindReservedWord(word);
        if (reserved > 0) {
          Emit(sql, tokens, tktReservedWord, word, word, static_cast<TReservedWord>(reserved));
        } else {
          Emit(sql, tokens, tktString, word, word);
        }
        return;
      }
      case 2: {  // quoted or bracketed text with its closing character doubled
        const char open = "'\"["[random_() % 3];
        const char close = open == '[' ? ']' : open;
        const std::string pool = std::string("ab ;-/*\n\r\t") + close;
        std::string text, written(1, open);
        for (std::uint32_t k = random_() % 8; k > 0; --k) {
          const char ch = pool[random_() % pool.size()];
          text += ch;
          written += ch;
          if (ch == close) written += ch;
        }
        written += close;
        Emit(sql, tokens, open == '[' ? tktBracketedString : tktQuotedString, text, written);
        return;
      }
      case 3: {
        const std::string digits = std::to_string(random_() % 100000);
        Emit(sql, tokens, tktInt, digits, digits);
        return;
      }
      case 4: {
        static const char* const kFloats[] = {"1.5",  "0.25", ".5",     "2E10",
                                              "1e+5", "3e-7", "12.5E-3"};
        const std::string text = kFloats[random_() % 7];
        Emit(sql, tokens, tktFloat, text, text);
        return;
      }
      case 5: {
        const std::string op = kOperators[random_() % 12];
        Emit(sql, tokens, tktString, op, op);
        return;
      }
      case 6:
        Emit(sql, tokens, tktLeftParenthesis, "(", "(");
        ++depth;
        return;
      case 7:
        if (depth > 0) {
          Emit(sql, tokens, tktRightParenthesis, ")", ")");
          --depth;
        } else {
          Emit(sql, tokens, tktComma, ",", ",");
        }
        return;
      case 8:
        Emit(sql, tokens, tktDot, ".", ".");
        return;
      case 9:
        Emit(sql, tokens, tktComma, ",", ",");
        return;
      default: {  // a backtick name is never a keyword
        const std::string name = random_() % 2 ? "order" : "a b";
        Emit(sql, tokens, tktString, name, "`" + name + "`");
        return;
      }
    }
  }

  void Separator(std::string& sql) {
    static const char* const kSeparators[] = {
        " ", "\t", "\n", "\r\n", "  ", " -- note; (\n", " /* c;\r\n( */ ", " /**/ "};
    for (std::uint32_t k = 1 + random_() % 2; k > 0; --k)
      Append(sql, kSeparators[random_() % 8]);
  }

  void Emit(std::string& sql, std::vector<ExpectedToken>& tokens, TTokenType type,
            const std::string& text, const std::string& written, TReservedWord word = rwNone) {
    tokens.push_back({0, type, text, word, line_, column_});
    Append(sql, written);
  }

  // Every character advances the column except a carriage return; a line
  // feed starts the next line.
  void Append(std::string& sql, std::string_view text) {
    for (char ch : text) {
      sql += ch;
      if (ch == '\n') {
        ++line_;
        column_ = 1;
      } else if (ch != '\r') {
        ++column_;
      }
    }
  }
  void AppendUncounted(std::string& sql, char ch) { sql += ch; }

  std::mt19937 random_;
  int line_ = 1;
  int column_ = 1;
};

TEST(VEZLexer, RandomScriptsMatchTheirModel) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    std::string sql;
    std::vector<std::vector<ExpectedToken>> expected;
    ScriptModel(seed).Build(sql, expected);
    SCOPED_TRACE(sql);
    TVEZLexer lexer(sql, nullptr, false);
    ASSERT_EQ(lexer.NumCommands(), static_cast<int>(expected.size()));
    for (std::size_t c = 0; c < expected.size(); ++c) {
      const auto& tokens = lexer.Commands[c].Tokens;
      ASSERT_EQ(tokens.size(), expected[c].size()) << "command " << c;
      for (std::size_t t = 0; t < tokens.size(); ++t) {
        const ExpectedToken& want = expected[c][t];
        SCOPED_TRACE("command " + std::to_string(c) + " token " + std::to_string(t));
        EXPECT_EQ(TokenTypeName(tokens[t].TokenType), TokenTypeName(want.type));
        EXPECT_EQ(tokens[t].Text, want.text);
        EXPECT_EQ(tokens[t].ReservedWord, want.word);
        EXPECT_EQ(tokens[t].LineNum, want.line);
        EXPECT_EQ(tokens[t].ColumnNum, want.column);
      }
    }
  }
}

// Random bytes, weighted towards the characters the scanner treats specially,
// either tokenise into well-formed tokens or fail with the engine's error.
TEST(VEZLexer, RandomScriptsNeverCrash) {
  TVEZSQLParams params;
  params.AddCreated().Name = "a";
  params.AddCreated().Name = "b";
  const std::string special = "'\"`[]():?;-/*.,+-=<>|\\eE01 \t\r\nabSELECT";
  std::mt19937 random(6);
  int accepted = 0;
  for (int round = 0; round < 5000; ++round) {
    std::string sql;
    const std::size_t length = random() % 48;
    for (std::size_t k = 0; k < length; ++k) {
      sql += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                 : special[random() % special.size()];
    }
    try {
      TVEZLexer lexer(sql, &params, round % 3 == 0);
      ++accepted;
      for (const TSQLCommand& command : lexer.Commands) {
        ASSERT_GT(command.NumTokens(), 0) << sql;
        for (const TToken& token : command.Tokens) {
          ASSERT_GE(token.LineNum, 1) << sql;
          ASSERT_GE(token.ColumnNum, 1) << sql;
          ASSERT_NE(token.TokenType, tktNone) << sql;
          ASSERT_EQ(token.TokenType == tktReservedWord, token.ReservedWord != rwNone) << sql;
          ASSERT_EQ(token.TokenType == tktParameter, token.ParamValue != nullptr) << sql;
        }
      }
      TToken token;
      while (lexer.GetNextCommand()) {
        while (lexer.GetNextToken(token)) {
        }
      }
    } catch (const EVEZException&) {
    }
  }
  EXPECT_GT(accepted, 500);
}

}  // namespace
}  // namespace vez
