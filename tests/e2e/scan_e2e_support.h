// The harness of the whole-program scans through the real scanimage: a run
// folder whose shm, log and etc stand in for the package's, the synthetic
// pages and scenario of a simulated scanner, scanimage in its own IPC and
// mount namespaces, and the pages it wrote. A program that compiles it
// defines PIPELINE_IMGFORGE_STANDIN.
#ifndef DRAVN_SCAN_E2E_SUPPORT_H
#define DRAVN_SCAN_E2E_SUPPORT_H

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "model_catalog.h"
#include "test_pages.h"
#include "test_support.h"

namespace dravn_scan_e2e {

struct PaperSize {
  const char* name;
  double widthMm, heightMm;
};

// Page `number` of the synthetic document, rendered at `dpi`.
dravn_pages::Image Rendered(const PaperSize& paper, int dpi, bool colour, int number);
// A colour page as scanimage delivers it in `mode`: as it is, in grey, or as
// line art cut at 128.
dravn_pages::Image InMode(dravn_pages::Image page, const std::string& mode);

// The scanner a fixture scans with, at bus 1 address 5.
struct Scanner {
  const char* family;  // the scenario's device word ("selko2"), and the run folder's name
  const dravn::CatalogModel* model;
};

// A transfer of a transcript: its line holds `kind` (" bulk out ",
// " control out ") and its data starts with `hex`.
struct TransferMatch {
  std::string kind;
  std::string hex;
};
// The number k ("#k") of the first matching transfer after transfer
// `after`, or -1.
int TransferAfter(const std::string& transcript, const TransferMatch& match, int after = 0);

// Where an interrupt falls: the transfer `transfer` finds in a transcript,
// and, when `mark` names a file, not before it exists. `pace`: set lines
// (the mechanism's time per face) that only the interrupted run gets, so
// that the scan goes on slowly after it.
struct InterruptPoint {
  std::function<int(const std::string& transcript)> transfer;
  std::string mark;
  std::string pace;
};

class ScanimageE2E : public ::testing::Test {
 protected:
  explicit ScanimageE2E(const Scanner& scanner) : m_scanner(scanner) {}

  void SetUp() override;
  // The pages and scans are large: nothing is left behind.
  void TearDown() override;

  // Sheets of synthetic pages (front 2k-1, back 2k) rendered at `dpi`; the
  // pages listed in `blank` are white.
  void WritePages(int sheets, const PaperSize& paper, int dpi, bool colour, const std::vector<int>& blank = {});
  // The set lines that feed `sheets` sheets of the written pages.
  std::string FeedSettings(int sheets, int dpi) const;
  // The scenario of the scanner with `settings` as its set lines.
  void WriteScenario(const std::string& settings);

  // The package's libraries with `file` in place of `name`, to bind over them.
  std::string LaidOver(const char* file, const char* name);
  // A library directory whose libimgforge is the pipeline tests' stand-in
  // (it converts to grey and line art and judges blank pages).
  std::string FullImgforge() { return LaidOver(PIPELINE_IMGFORGE_STANDIN, "libimgforge.so"); }

  std::string DeviceName() const;
  // scanimage on the scanner with `args`; each of `binds` ("from:to") and
  // the run folder's shm, log and etc are bound over their targets first.
  std::vector<std::string> Argv(const std::vector<std::string>& args, std::vector<std::string> binds);
  // The simulated scanner, the run folder's dll.conf, a transcript of the
  // transfers; a family adds what its runs need.
  virtual std::map<std::string, std::string> Env();
  dravn_test::RunResult Scanimage(const std::vector<std::string>& args, const std::vector<std::string>& binds = {});
  // Runs argv to its end once to find where `at` falls in the transcript,
  // then again with Env() and `at.pace`, held at that transfer (and once
  // `at.mark` exists, if it names a file), and interrupts it (SIGINT) there;
  // the transfer goes on once scanimage has taken the signal. The second
  // run's exit status and standard error; its transcript and pages are left
  // for the test.
  void Interrupted(const std::vector<std::string>& argv, const InterruptPoint& at, dravn_test::RunResult* result);

  // scanimage refuses each setting of an option whose step only the Selko2
  // pipeline has, before anything is scanned.
  void ExpectSelko2OnlyStepsRefused();

  std::vector<std::string> Batch(std::vector<std::string> options) const;
  int PagesWritten() const;
  dravn_pages::Image Scanned(int n) const;

  Scanner m_scanner;
  std::string m_dir;
};

}  // namespace dravn_scan_e2e

#endif
