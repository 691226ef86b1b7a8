// The prepared study file: a read study survives writing and reading bit for bit, and a
// damaged, truncated or foreign file is refused with one line naming the byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "data/prepared_study.h"
#include "fuzz/in_process_run.h"
#include "run_program.h"
#include "study_input_helpers.h"

namespace {

const char kStructure[] =
    "L1 L2 L3\n"
    "a pop1 102 -9 7\n"
    "a pop1 104 5 7\n"
    "b pop2 102 5 -9\n"
    "b pop2 98 6 7\n"
    "c pop2 -9 5 8\n"
    "c pop2 98 6 8\n";

const char kVcf[] =
    "##fileformat=VCFv4.2\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ts1\ts2\n"
    "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0/1\t1|1\n"
    "1\t20\trs2\tC\tT,AT\t.\t.\t.\tGT\t./.\t2/0\n";

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST(PreparedStudy, RoundTripsAndRefusesDamage) {
  const std::string dir = ScratchDir();
  WriteFile(dir + "/in.str", kStructure);
  const StudyRead read = ReadInProcess(dir + "/in.str");
  ASSERT_TRUE(read.ok) << read.err;
  const std::string emc = dir + "/in.emc";
  ASSERT_FALSE(RunInProcess([&] { WritePreparedStudy(emc, read.data); }).ended);

  const StudyRead back = ReadInProcess(emc);
  ASSERT_TRUE(back.ok) << back.err;
  EXPECT_EQ(TableDifference(back.data.X, read.data.X), "");
  EXPECT_EQ(TableText(back.data), TableText(read.data));
  EXPECT_EQ(back.data.locusNames, read.data.locusNames);
  EXPECT_EQ(back.data.format, read.data.format);
  EXPECT_EQ(back.data.detected, read.data.detected);

  // Allele names (VCF) travel too.
  WriteFile(dir + "/in.vcf", kVcf);
  const StudyRead vcf = ReadInProcess(dir + "/in.vcf");
  ASSERT_TRUE(vcf.ok) << vcf.err;
  ASSERT_FALSE(RunInProcess([&] { WritePreparedStudy(dir + "/vcf.emc", vcf.data); }).ended);
  const StudyRead vcfBack = ReadInProcess(dir + "/vcf.emc");
  ASSERT_TRUE(vcfBack.ok) << vcfBack.err;
  EXPECT_EQ(TableDifference(vcfBack.data.X, vcf.data.X), "");
  EXPECT_EQ(vcfBack.data.alleleNames, vcf.data.alleleNames);

  const std::string good = Bytes(emc);
  struct Case {
    const char* what;
    std::string bytes;
    std::string line;  // the expected error, after "emclade-sweep: <file>: "
  };
  std::string flipped = good;
  flipped[good.size() - 40] ^= 0x10;  // inside the table's words
  std::string version = good;
  version[8] = 9;
  const Case cases[] = {
      {"truncated", good.substr(0, good.size() - 5),
       "byte " + std::to_string(good.size() - 21) +
           ": the last 16 bytes are not the trailer of a " + std::to_string(good.size() - 5) +
           "-byte file (truncated or damaged)"},
      {"a flipped bit", flipped,
       "byte " + std::to_string(good.size() - 8) +
           ": the checksum does not match the data (damaged)"},
      {"another version", version,
       "byte 8: a prepared study file of version 9, this program reads version 1: prepare it "
       "again with this program"},
      {"too short", good.substr(0, 20),
       "byte 0: a prepared study file is at least 28 bytes, found 20 (truncated)"},
  };
  for (const Case& c : cases) {
    Put(emc, c.bytes);
    const StudyRead bad = ReadInProcess(emc);
    EXPECT_FALSE(bad.ok) << c.what;
    EXPECT_EQ(bad.exitCode, 1) << c.what;
    EXPECT_EQ(bad.err, "emclade-sweep: " + emc + ": " + c.line + "\n") << c.what;
  }
}
