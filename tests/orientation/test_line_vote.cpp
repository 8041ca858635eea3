// The direction vote's stage flow, driven by scripted scorers.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "line_recognition.h"

using namespace turnsense;

namespace {

// A script gives, per scorer letter, one token per line: "-" for no
// direction, else comma-separated answers "d" or "d@confidence"; a trailing
// "!" sets the single scorer's doubling flag; "E" fails the call.
// Letters: S first single, s single without validation, C complex,
// c complex without validation, R reverse, W two engines, P three patches.
std::map<char, std::vector<std::string>> g_script;
std::string g_calls;
constexpr int kFailure = 0xfffc;

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> out;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, by);)
    if (!part.empty()) out.push_back(part);
  return out;
}

// Answers category 10 + k for answer k, so the counters show which answers counted.
int Scripted(char letter, const TEXTLINE& line, LineAnswer* answers, int count, int& answered, int* wide,
             int validate = -1) {
  g_calls += std::string(g_calls.empty() ? "" : " ") + letter + std::to_string(line.line_index);
  if (validate >= 0) g_calls += "/" + std::to_string(validate);
  const auto& tokens = g_script[letter];
  std::string token = size_t(line.line_index) < tokens.size() ? tokens[size_t(line.line_index)] : "-";
  if (token == "E") return kFailure;
  if (wide) *wide = !token.empty() && token.back() == '!';
  if (!token.empty() && token.back() == '!') token.pop_back();
  int k = 0;
  for (const std::string& a : Split(token == "-" ? "" : token, ',')) {
    if (k == count) break;
    const size_t at = a.find('@');
    answers[k].direction = a == "-" ? -1 : std::stoi(a.substr(0, at));
    answers[k].confidence = at == std::string::npos ? 1.0f : std::stof(a.substr(at + 1));
    answers[k].category = 10 + k;
    if (answers[k].direction != -1) answered = 1;
    ++k;
  }
  for (; k < count; ++k) answers[k] = {0.0f, 24, -1};
  return 0;
}

int Single(char letter, const TEXTLINE& line, float& confidence, int& category, int& direction, int& answered,
           int& wide) {
  LineAnswer a{};
  const int rc = Scripted(letter, line, &a, 1, answered, &wide);
  confidence = a.confidence, category = a.category, direction = a.direction;
  return rc;
}

const LineScorers kScripted = {
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, char*, char*, int, float& c,
       int& g, int& d, int& a, int& w) { return Single('S', l, c, g, d, a, w); },
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, char*, char*, int, float& c,
       int& g, int& d, int& a, int& w) { return Single('s', l, c, g, d, a, w); },
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, char*, char*, int,
       LineAnswer* r, int& a) { return Scripted('W', l, r, 2, a, nullptr); },
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, char*, char*, int,
       LineAnswer* r, int& a) { return Scripted('C', l, r, 6, a, nullptr); },
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, char*, char*, int,
       LineAnswer* r, int& a) { return Scripted('c', l, r, 6, a, nullptr); },
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, char*, char*, int,
       LineAnswer* r, int& a) { return Scripted('R', l, r, 6, a, nullptr); },
    [](CnnEngine*, CnnEngine*, CnnEngine*, CnnEngine*, uint8_t*, int, int, TEXTLINE l, int, int, char*, char*, int,
       LineAnswer* r, int& a, int validate) { return Scripted('P', l, r, 3, a, nullptr, validate); },
};

struct Outcome {
  int rc, direction, effective, tie, few;
  float slots[5];
  int counters[25];
};

Outcome Vote(int count, const std::string& scores, int thickLine = -1) {
  std::vector<TEXTLINE> lines(static_cast<size_t>(count));
  std::vector<TEXT_IMAGE> crops(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    TEXTLINE& l = lines[size_t(i)];
    l = TEXTLINE{};
    l.line_index = i;
    // Three rows high: too thin for the re-recognition's validation.
    l.box = {10, 10 + 10 * i, 200, 12 + 10 * i};
    l.width = 191, l.height = 3;
    if (i == thickLine) l.box.bottom = l.box.top + 20;
    crops[size_t(i)] = TEXT_IMAGE{};
    crops[size_t(i)].validity = size_t(i) < scores.size() && scores[size_t(i)] == '0' ? 0.0f : 1.0f;
  }
  Outcome o{};
  o.direction = -7;
  float confidence = 0;
  long start = 0;
  std::vector<uint8_t> page(1000 * 400, 255);
  o.rc = orient_identify_cnn_with(kScripted, nullptr, nullptr, nullptr, nullptr, page.data(), 1000, 400, lines.data(),
                                  crops.data(), count, 1, nullptr, nullptr, confidence, o.direction, start, 8,
                                  o.effective, o.tie, o.slots, o.few, o.counters);
  return o;
}

struct Case {
  const char* name;
  int lines;
  std::map<char, std::string> script;
  const char* calls;
  int direction, effective, tie, few;
  float slot;  // the average in the answer's slot
  const char* scores = "";
};

}  // namespace

TEST(Vote, StageFlow) {
  const Case cases[] = {
      {"two opposed lines tie and are re-recognised",
       4,
       {{'S', "0@1.0 2@0.9 - -"}, {'P', "2,2,- 2 - -"}},
       "S0 S1 S2 S3 P0/0 P1/0 P2/0 P3/0",
       2,
       2,
       1,
       0,
       1.0f},
      {"one vote of 0.95 against two is re-recognised",
       4,
       {{'S', "0 0 2@0.95 -"}, {'P', "0 0 0 -"}},
       "S0 S1 S2 S3 P0/0 P1/0 P2/0 P3/0",
       0,
       3,
       0,
       0,
       1.0f},
      {"a unanimous page is not re-recognised", 4, {{'S', "0 0 0 -"}}, "S0 S1 S2 S3", 0, 3, 0, 0, 1.0f},
      {"three lines without an answer are asked again unvalidated",
       3,
       {{'C', "- - -"}, {'c', "- 2@0.5 -"}},
       "C0 C1 C2 c0 c1 c2",
       2,
       1,
       0,
       1,
       0.5f},
      {"two lines without an answer are not asked again", 2, {{'C', "- -"}}, "C0 C1", -1, 0, 0, 1, 0.0f},
      {"lines without a score are never asked", 4, {{'S', "0 0 - 0"}}, "S0 S2 S3", 0, 2, 0, 0, 1.0f, "1011"},
      {"no line with a score gives no verdict", 3, {}, "", -1, 0, 0, 1, 0.0f, "000"},
      {"six silent lines go to the two engines",
       6,
       {{'W', "1,1 - 1 - - -"}},
       "S0 S1 S2 S3 S4 S5 s0 s1 s2 s3 s4 s5 W0 W1 W2 W3 W4 W5",
       1,
       2,
       0,
       0,
       1.0f},
      {"five lines with one weak answer go to the two engines",
       5,
       {{'S', "- 3@0.6 - - -"}, {'W', "0 - - - -"}},
       "S0 S1 S2 S3 S4 W0 W1 W2 W3 W4",
       0,
       1,
       0,
       0,
       1.0f},
      {"five silent lines are read reversed",
       5,
       {{'R', "- 3@0.7,3@0.5 - - -"}},
       "S0 S1 S2 S3 S4 s0 s1 s2 s3 s4 R0 R1 R2 R3 R4",
       3,
       1,
       0,
       0,
       0.6f},
      {"after the reverse, one direction stands",
       4,
       {{'W', "2@0.7 - - 2@0.5"}},
       "S0 S1 S2 S3 s0 s1 s2 s3 R0 R1 R2 R3 W0 W1 W2 W3",
       2,
       2,
       0,
       0,
       0.6f},
      {"after the reverse, two directions give no verdict",
       4,
       {{'W', "2 0@0.5 - -"}},
       "S0 S1 S2 S3 s0 s1 s2 s3 R0 R1 R2 R3 W0 W1 W2 W3",
       -1,
       2,
       0,
       0,
       0.0f},
      {"a wide line's confidence above 1 counts double",
       8,
       {{'S', "0@1.5! 0@1.5! 0@1.5! 0@1.5! 0@1.5! 0@1.5! 0@1.5! 0@1.5!"}},
       "S0 S1 S2 S3 S4 S5 S6 S7",
       0,
       8,
       0,
       0,
       3.0f},
      {"at most eight lines are examined",
       10,
       {{'S', "0@1.5 0@1.5 0@1.5 0@1.5 0@1.5 0@1.5 0@1.5 0@1.5 1 1"}},
       "S0 S1 S2 S3 S4 S5 S6 S7",
       0,
       8,
       0,
       0,
       1.5f},
      {"eight lines with a close runner-up are re-recognised",
       8,
       {{'S', "0 0 0 0 0 2@0.9 2@0.9 2@0.9"}, {'P', "2 2 2 2 2 2 2 2"}},
       "S0 S1 S2 S3 S4 S5 S6 S7 P0/0 P1/0 P2/0 P3/0 P4/0 P5/0 P6/0 P7/0",
       2,
       8,
       0,
       0,
       1.0f},
      {"eight lines, runner-up below a 3.5th: no retry",
       8,
       {{'S', "0 0 0 0 0 2@0.25 2@0.25 2@0.25"}},
       "S0 S1 S2 S3 S4 S5 S6 S7",
       0,
       8,
       0,
       0,
       1.0f},
      {"eight lines, runner-up above a 3.5th: re-recognised",
       8,
       {{'S', "0 0 0 0 0 2@0.3 2@0.3 2@0.3"}},
       "S0 S1 S2 S3 S4 S5 S6 S7 P0/0 P1/0 P2/0 P3/0 P4/0 P5/0 P6/0 P7/0",
       -1,
       0,
       0,
       0,
       0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_script.clear();
    g_calls.clear();
    for (const auto& kv : c.script) g_script[kv.first] = Split(kv.second, ' ');
    const Outcome o = Vote(c.lines, c.scores);
    EXPECT_EQ(o.rc, 0);
    EXPECT_EQ(g_calls, c.calls);
    EXPECT_EQ(o.direction, c.direction);
    EXPECT_EQ(o.effective, c.effective);
    EXPECT_EQ(o.tie, c.tie);
    EXPECT_EQ(o.few, c.few);
    for (int k = 0; k < 5; ++k)
      EXPECT_NEAR(o.slots[k], k == c.direction ? c.slot : (c.direction < 0 ? 0.0f : o.slots[k]), 1e-5) << k;
  }
}

TEST(Vote, ReRecognitionValidatesWhenALineIsThick) {
  g_script = {{'S', Split("0@1.0 2@0.9 - -", ' ')}};
  g_calls.clear();
  Vote(4, "", 2);
  EXPECT_EQ(g_calls, "S0 S1 S2 S3 P0/1 P1/1 P2/1 P3/1");
}

TEST(Vote, AFailingScorerEndsTheVoteWithItsCode) {
  // The first stage completed: its verdict stays.
  g_script = {{'S', Split("0@1.0 2@0.9 - -", ' ')}, {'P', Split("2 E 2 2", ' ')}};
  g_calls.clear();
  Outcome o = Vote(4, "");
  EXPECT_EQ(o.rc, kFailure);
  EXPECT_EQ(g_calls, "S0 S1 S2 S3 P0/0 P1/0");
  EXPECT_EQ(o.direction, 0);
  EXPECT_EQ(o.effective, 2);
  // Nothing completed: the caller's direction stays.
  g_script = {{'S', Split("0 E", ' ')}};
  o = Vote(4, "");
  EXPECT_EQ(o.rc, kFailure);
  EXPECT_EQ(o.direction, -7);
}

TEST(Vote, CountersTakeTheSingleScorersFirstCategoryAndEveryOtherAnswer) {
  g_script = {{'S', Split("0 0 0 0", ' ')}};
  Outcome o = Vote(4, "");
  EXPECT_EQ(o.counters[10], 4);
  EXPECT_EQ(o.counters[11], 0);
  g_script = {{'C', Split("0 -", ' ')}};
  o = Vote(2, "");
  // Both lines count, the silent one as six "Background" answers.
  EXPECT_EQ(o.counters[10], 1);
  for (int k = 11; k < 16; ++k) EXPECT_EQ(o.counters[k], 0) << k;
  EXPECT_EQ(o.counters[24], 11);
}
