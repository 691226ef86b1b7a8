// The report as a person sees it: a real sweep's report.html loaded in headless Chromium,
// with no console message, every image decoded, nothing fetched, and a screenshot taken.
// Skipped, with a message, only where chromium is not installed (scripts/install-deps.sh
// --test installs it, and CI runs this test).
#include <cairo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "run_program.h"

namespace {

// The chromium on PATH, or "".
std::string FindChromium() {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/chromium";
    if (!folder.empty() && FileExists(candidate)) return candidate;
  }
  return "";
}

// Chromium as this machine runs it headless: no sandbox (root), no GPU, and none of the
// background connections that a closed network refuses; a fresh profile every time.
ProgramResult RunChromium(const std::string& chromium, const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--headless",
                                  "--no-sandbox",
                                  "--disable-gpu",
                                  "--disable-quic",
                                  "--no-first-run",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--user-data-dir=" + MakeTempDir()};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all, "", 120.0, chromium);
}

// A copy of the report with a few lines of script, for this test alone, that write into the
// page, once it has loaded, how many images it holds, how many decoded, and how many
// resources it fetched.
const char kProbe[] = R"(<script>
window.addEventListener("load", () => {
  const images = [...document.images];
  document.body.setAttribute("data-probe", "images=" + images.length +
      " decoded=" + images.filter((i) => i.complete && i.naturalWidth > 0).length +
      " fetched=" + performance.getEntriesByType("resource").length);
});
</script>
)";

}  // namespace

TEST(ReportInBrowser, LoadsWithoutErrorsAndEveryImageDecodes) {
  const std::string chromium = FindChromium();
  if (chromium.empty()) {
    GTEST_SKIP() << "chromium is not installed (bash scripts/install-deps.sh --test installs "
                    "it): the report was not loaded in a browser";
  }
  const std::string dir = MakeTempDir();
  std::string text;  // 16 individuals of two populations at 3 loci, one row per copy
  for (int32_t n = 0; n < 16; ++n) {
    for (int32_t a = 0; a < 2; ++a) {
      const int32_t v = n < 8 ? 100 + (n + a) % 2 : 110 + (n * a) % 3;
      text += "ind" + std::to_string(n) + " " + (n < 8 ? "North" : "South") + " " +
              std::to_string(v) + " " + std::to_string(v + 50) + " " +
              std::to_string(n % 4 == a ? 7 : 9) + "\n";
    }
  }
  WriteFile(dir + "/study.str", text);
  const ProgramResult sweep =
      RunProgram({"study.str", "--label-columns", "2", "--population-column", "2", "--k", "1-3",
                  "--replicates", "3", "--quiet"},
                 dir, 60.0, EMCLADE_SWEEP_EXE);
  ASSERT_EQ(sweep.exitCode, 0) << sweep.err;
  const std::string report = dir + "/study.sweep/report.html";
  std::string probed = ReadFile(report);
  EXPECT_EQ(probed.find("<script"), std::string::npos);  // the report itself has none
  probed.insert(probed.rfind("</body>"), kProbe);
  const std::string probe = dir + "/study.sweep/probe.html";
  WriteFile(probe, probed);

  const ProgramResult dom =
      RunChromium(chromium, {"--enable-logging=stderr", "--v=0", "--dump-dom", "file://" + probe});
  ASSERT_EQ(dom.exitCode, 0) << dom.err;
  EXPECT_NE(dom.out.find("data-probe=\"images=3 decoded=3 fetched=0\""), std::string::npos)
      << dom.out.substr(0, 400);
  for (const std::string& line : SplitLines(dom.err)) {
    EXPECT_EQ(line.find(":CONSOLE"), std::string::npos) << line;  // the page's console
  }

  // Kept in the build folder, for a person to look at after the run.
  const std::string shot = std::string(EMCLADE_TEST_OUTPUT_DIR) + "/report-screenshot.png";
  const ProgramResult screenshot = RunChromium(
      chromium,
      {"--hide-scrollbars", "--window-size=1280,2400", "--screenshot=" + shot, "file://" + report});
  ASSERT_EQ(screenshot.exitCode, 0) << screenshot.err;
  cairo_surface_t* image = cairo_image_surface_create_from_png(shot.c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS) << shot;
  EXPECT_EQ(cairo_image_surface_get_width(image), 1280);
  EXPECT_EQ(cairo_image_surface_get_height(image), 2400);
  // Not a blank page: the plots' colours fill a good share of it.
  const unsigned char* data = cairo_image_surface_get_data(image);
  const int stride = cairo_image_surface_get_stride(image);
  int64_t coloured = 0;
  for (int y = 0; y < 2400; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
    for (int x = 0; x < 1280; ++x) {
      const uint32_t p = row[x] & 0xffffff;
      const int r = p >> 16, g = (p >> 8) & 0xff, b = p & 0xff;
      coloured += std::max({r, g, b}) - std::min({r, g, b}) > 60 ? 1 : 0;
    }
  }
  cairo_surface_destroy(image);
  EXPECT_GT(coloured, 50000);
  std::cout << "screenshot of the report: " << shot << "\n";
}
