#include "dbengine/foundation/VEZReservedWords.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

namespace vez {
namespace {

// The plain reading of the lookup: upper-case a to z, first equal text.
std::int32_t LinearFind(std::string_view word) {
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  for (int i = 0; i < kReservedWordCount; ++i) {
    if (ReservedWords[i] == upper) return i;
  }
  return -1;
}

TEST(VEZReservedWords, TableSizeOrderAndStoredWidths) {
  static_assert(sizeof(TReservedWord) == 2);
  ASSERT_EQ(kReservedWordCount, 292);
  EXPECT_EQ(static_cast<int>(rwNone), 292);
  struct Row {
    TReservedWord word;
    int ordinal;
    std::string_view text;
  };
  const Row rows[] = {
      {rwABSOLUTE, 0, "ABSOLUTE"},
      {rwACTION, 1, "ACTION"},
      {rwCHAR_LENGTH, 28, "CHAR_LENGTH"},
      {rwEND, 73, "END"},
      {rwEND_EXEC, 74, "END-EXEC"},
      {rwSELECT, 179, "SELECT"},
      {rwZONE, 229, "ZONE"},
      {rwPASSWORD, 230, "PASSWORD"},
      {rwLAST_AUTOINC, 234, "LASTAUTOINC"},
      {rwINDEX, 237, "INDEX"},
      {rwTRUNCATE, 266, "TRUNCATE"},
      {rwABS, 267, "ABS"},
      {rwHALFEVEN, 283, "HALFEVEN"},
      {rwRNDUP, 291, "RNDUP"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text));
    EXPECT_EQ(static_cast<int>(row.word), row.ordinal);
    EXPECT_EQ(ReservedWords[row.word], row.text);
    EXPECT_EQ(ReservedWordText(row.word), row.text);
  }
  EXPECT_EQ(ReservedWordText(rwNone), "");
  std::set<std::string_view> distinct(ReservedWords.begin(), ReservedWords.end());
  EXPECT_EQ(distinct.size(), ReservedWords.size());
}

// The whole table in its fixed order, written out independently of the
// header: a swapped, missing or misspelt word changes every later ordinal.
TEST(VEZReservedWords, WholeTableInItsFixedOrder) {
  const std::string_view expected =
      "ABSOLUTE ACTION ADD ALL ALLOCATE ALTER AND ANY ARE AS ASC ASSERTION AT AUTHORIZATION "
      "AVG BEGIN BETWEEN BIT BIT_LENGTH BOTH BY CASCADE CASCADED CASE CAST CATALOG CHAR "
      "CHARACTER CHAR_LENGTH CHARACTER_LENGTH CHECK CLOSE COALESCE COLLATE COLLATION COLUMN "
      "COMMIT CONNECT CONNECTION CONSTRAINT CONSTRAINTS CONTINUE CONVERT CORRESPONDING COUNT "
      "CREATE CROSS CURRENT CURRENT_DATE CURRENT_TIME CURRENT_TIMESTAMP CURRENT_USER CURSOR "
      "DATE DAY DEALLOCATE DEC DECIMAL DECLARE DEFAULT DEFERRABLE DEFERRED DELETE DESC "
      "DESCRIBE DESCRIPTOR DIAGNOSTICS DISCONNECT DISTINCT DOMAIN DOUBLE DROP ELSE END "
      "END-EXEC ESCAPE EXCEPT EXCEPTION EXEC EXECUTE EXISTS EXTERNAL EXTRACT FALSE FETCH FIRST "
      "FLOAT FOR FOREIGN FOUND FROM FULL GET GLOBAL GO GOTO GRANT GROUP HAVING HOUR IDENTITY "
      "IMMEDIATE IN INDICATOR INITIALLY INNER INPUT INSENSITIVE INSERT INT INTEGER INTERSECT "
      "INTERVAL INTO IS ISOLATION JOIN KEY LANGUAGE LAST LEADING LEFT LEVEL LIKE LOCAL LOWER "
      "MATCH MAX MEMORY MIN MINUS MINUTE MODULE MONTH NAMES NATIONAL NATURAL NCHAR NEXT NO NOT "
      "NULL NULLIF NUMERIC OCTET_LENGTH OF ON ONLY OPEN OPTION OR ORDER OUTER OUTPUT OVERLAPS "
      "PAD PARTIAL POSITION PRECISION PREPARE PRESERVE PRIMARY PRIOR PRIVILEGES PROCEDURE "
      "PUBLIC READ REAL REFERENCES RELATIVE RESTRICT REVOKE RIGHT ROLLBACK ROWS SCHEMA SCROLL "
      "SECOND SECTION SELECT SESSION SESSION_USER SET SIZE SMALLINT SOME SPACE SQL SQLCODE "
      "SQLERROR SQLSTATE SUBSTRING SUM SYSTEM_USER TABLE TEMPORARY THEN TIME TIMESTAMP "
      "TIMEZONE_HOUR TIMEZONE_MINUTE TO TOP TRAILING TRANSACTION TRANSLATE TRANSLATION TRIM "
      "TRUE UNION UNIQUE UNKNOWN UPDATE UPPER USAGE USER USING VALUE VALUES VARCHAR VARYING "
      "VIEW WHEN WHENEVER WHERE WITH WORK WRITE YEAR ZONE PASSWORD BLOBBLOCKSIZE "
      "BLOBCOMPRESSIONMODE BLOBCOMPRESSIONALGORITHM LASTAUTOINC MODIFY NEW INDEX NOCASE LTRIM "
      "RTRIM POS LENGTH SYSDATE NOW TODATE TOSTRING AUTOINDEXES NOAUTOINDEXES INCREMENT "
      "LASTVALUE MAXVALUE MINVALUE CYCLED NOMAXVALUE NOMINVALUE NOCYCLED INITIALVALUE "
      "STARTVALUE RENAME START FLUSH AUTOINC MIMETOBIN ROWNUM IF TRUNCATE ABS ACOS ASIN ATAN "
      "CEIL COS EXP FLOOR LOG POWER RAND ROUND SIGN SIN SQR SQRT HALFEVEN HALFPOS HALFNEG "
      "HALFDOWN HALFUP RNDNEG RNDPOS RNDDOWN RNDUP";
  std::string joined;
  for (std::string_view text : ReservedWords) {
    if (!joined.empty()) joined += ' ';
    joined += text;
  }
  EXPECT_EQ(joined, expected);
}

TEST(VEZReservedWords, FindsEveryWordInAnyLetterCase) {
  for (int i = 0; i < kReservedWordCount; ++i) {
    const std::string upper(ReservedWords[i]);
    std::string lower = upper;
    std::string mixed = upper;
    for (std::size_t k = 0; k < upper.size(); ++k) {
      if (upper[k] >= 'A' && upper[k] <= 'Z') {
        lower[k] = static_cast<char>(upper[k] + 32);
        if (k % 2 == 0) mixed[k] = lower[k];
      }
    }
    SCOPED_TRACE(upper);
    EXPECT_EQ(FindReservedWord(upper), i);
    EXPECT_EQ(FindReservedWord(lower), i);
    EXPECT_EQ(FindReservedWord(mixed), i);
  }
}

TEST(VEZReservedWords, MissesAndOnlyAsciiLettersFold) {
  const std::string_view misses[] = {
      "",
      "SELECTX",
      "SELEC",
      " SELECT",
      "SELECT ",
      "END_EXEC",
      "LAST_AUTOINC",
      "s\xE9lect",                      // e-acute is no letter a to z
      std::string_view("SELECT\0", 7),  // an embedded zero is part of the word
      "BLOBCOMPRESSIONALGORITHMX",
      "X",
  };
  for (std::string_view word : misses) {
    SCOPED_TRACE(std::string(word));
    EXPECT_EQ(FindReservedWord(word), -1);
    EXPECT_EQ(LinearFind(word), -1);
  }
  EXPECT_EQ(FindReservedWord("end-exec"), rwEND_EXEC);
  EXPECT_EQ(FindReservedWord("lastautoinc"), rwLAST_AUTOINC);
}

// The hashed lookup must answer exactly as the linear scan of the table, also
// for words one edit away from a reserved word and for random text.
TEST(VEZReservedWords, HashLookupAgreesWithLinearScan) {
  std::mt19937 random(20261210);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_-0\xC9\xE9";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  int hits = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string word;
    if (round % 2 == 0) {
      word = std::string(ReservedWords[random() % kReservedWordCount]);
      switch (random() % 4) {
        case 0:
          word[random() % word.size()] = alphabet[pick(random)];
          break;
        case 1:
          word.insert(random() % (word.size() + 1), 1, alphabet[pick(random)]);
          break;
        case 2:
          word.erase(random() % word.size(), 1);
          break;
        default:
          break;
      }
    } else {
      const std::size_t length = random() % 10;
      for (std::size_t k = 0; k < length; ++k)
        word += alphabet[pick(random)];
    }
    const std::int32_t expected = LinearFind(word);
    hits += expected >= 0;
    ASSERT_EQ(FindReservedWord(word), expected) << word;
  }
  EXPECT_GT(hits, 2000);  // the comparison covered plenty of hits as well as misses
}

}  // namespace
}  // namespace vez
