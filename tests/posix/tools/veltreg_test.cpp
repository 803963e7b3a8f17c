// veltreg run as its users run it: a separate process on the same registry file.
#include <owners/unique_handle.h>
#include <windows.h>

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "temp_registry.h"

namespace {

struct Outcome {
  int exitCode;
  std::string out;
  std::string err;
};

std::string shellQuoted(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string slurp(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class VeltregTest : public TempRegistryTest {
 protected:
  Outcome veltreg(const std::vector<std::string>& args, const std::string& input = "") {
    std::filesystem::path in = m_folder / "stdin", out = m_folder / "stdout",
                          err = m_folder / "stderr";
    std::ofstream(in) << input;
    std::string command = VELTREG_PATH;
    for (const std::string& arg : args) command += " " + shellQuoted(arg);
    command += " <" + in.string() + " >" + out.string() + " 2>" + err.string();
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
  }

  void expectSuccess(const std::vector<std::string>& args) {
    Outcome run = veltreg(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "The operation completed successfully.\n");
  }

  void registerProvider() {
    expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/ve", "/d",
                   "NorvexVelt Proxy Provider, Release 1.0"});
    expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\CurVer", "/ve", "/d",
                   "NorvexVeltProxyProvider.Cmpnt1.1"});
    expectSuccess(
        {"add", "HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CLSID", "/ve", "/d", "{G}"});
  }

  static std::string bytesOf(const char* path, const char* name) {
    velt::UniqueRegistryKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
      return "<no key>";
    std::string data(64, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    LSTATUS status = RegQueryValueExA(key.get(), name, nullptr, nullptr,
                                      reinterpret_cast<BYTE*>(data.data()), &size);
    return status == ERROR_SUCCESS ? data.substr(0, size) : "<no value>";
  }
};

const char* const kNotFound =
    "ERROR: The system was unable to find the specified registry key or value.\n";

TEST_F(VeltregTest, QueryPrintsTheKeyItsValuesAndItsSubkeys) {
  registerProvider();
  Outcome run = veltreg({"query", "HKCR\\NorvexVeltProxyProvider.Cmpnt1"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "\nHKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\n"
            "    (Default)    REG_SZ    NorvexVelt Proxy Provider, Release 1.0\n\n"
            "HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CLSID\n"
            "HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CurVer\n");

  run = veltreg({"query", "hkcr\\NorvexVeltProxyProvider.Cmpnt1", "/s"});
  EXPECT_EQ(run.out,
            "\nHKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\n"
            "    (Default)    REG_SZ    NorvexVelt Proxy Provider, Release 1.0\n"
            "\nHKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CLSID\n"
            "    (Default)    REG_SZ    {G}\n"
            "\nHKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CurVer\n"
            "    (Default)    REG_SZ    NorvexVeltProxyProvider.Cmpnt1.1\n\n");

  run = veltreg({"query", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\CurVer", "/ve"});
  EXPECT_EQ(run.out,
            "\nHKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CurVer\n"
            "    (Default)    REG_SZ    NorvexVeltProxyProvider.Cmpnt1.1\n\n");
}

TEST_F(VeltregTest, MissingKeysAndValuesFailWithTheToolsMessage) {
  registerProvider();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"query", "HKCR\\Nothing"},
        {"query", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/v", "Nothing"},
        {"delete", "HKCR\\Nothing", "/f"},
        {"delete", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/v", "Nothing", "/f"}}) {
    Outcome run = veltreg(args);
    EXPECT_EQ(run.exitCode, 1) << args[1];
    EXPECT_EQ(run.err, kNotFound);
  }
  Outcome badRoot = veltreg({"query", "HKXX\\Software"});
  EXPECT_EQ(badRoot.exitCode, 1);
  EXPECT_EQ(badRoot.err, "ERROR: Invalid key name.\n");
  Outcome badSyntax = veltreg({"query", "HKCR\\x", "/v"});
  EXPECT_EQ(badSyntax.exitCode, 1);
  EXPECT_NE(badSyntax.err.find("ERROR: Invalid syntax."), std::string::npos);
  Outcome help = veltreg({"add", "/?"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("VELTREG ADD KEY"), std::string::npos);
}

TEST_F(VeltregTest, AddStoresEachTypeAsItsBytes) {
  expectSuccess({"add", "HKCU\\T", "/v", "S", "/d", "text"});
  expectSuccess({"add", "HKCU\\T", "/v", "D", "/t", "REG_DWORD", "/d", "0x2A"});
  expectSuccess({"add", "HKCU\\T", "/v", "Ten", "/t", "REG_DWORD", "/d", "010"});
  expectSuccess({"add", "HKCU\\T", "/v", "Q", "/t", "reg_qword", "/d", "4294967296"});
  expectSuccess({"add", "HKCU\\T", "/v", "M", "/t", "REG_MULTI_SZ", "/d", "a\\0bc"});
  expectSuccess({"add", "HKCU\\T", "/v", "B", "/t", "REG_BINARY", "/d", "00ff"});
  EXPECT_EQ(bytesOf("T", "S"), std::string("text\0", 5));
  EXPECT_EQ(bytesOf("T", "D"), std::string("\x2a\0\0\0", 4));
  EXPECT_EQ(bytesOf("T", "Ten"), std::string("\x0a\0\0\0", 4));  // decimal, not octal
  EXPECT_EQ(bytesOf("T", "Q"), std::string("\0\0\0\0\1\0\0\0", 8));
  EXPECT_EQ(bytesOf("T", "M"), std::string("a\0bc\0\0", 6));
  EXPECT_EQ(bytesOf("T", "B"), std::string("\0\xff", 2));

  for (const char* bad : {"0x100000000", "-1", "12ab"}) {
    Outcome run = veltreg({"add", "HKCU\\T", "/v", "Bad", "/t", "REG_DWORD", "/d", bad});
    EXPECT_EQ(run.exitCode, 1) << bad;
  }
  EXPECT_EQ(bytesOf("T", "Bad"), "<no value>");

  // An existing value is overwritten only when the user agrees or /f is given.
  Outcome declined = veltreg({"add", "HKCU\\T", "/v", "s", "/d", "new"}, "no\n");
  EXPECT_EQ(declined.exitCode, 1);
  EXPECT_EQ(bytesOf("T", "S"), std::string("text\0", 5));
  Outcome agreed = veltreg({"add", "HKCU\\T", "/v", "s", "/d", "new"}, "yes\n");
  EXPECT_EQ(agreed.exitCode, 0);
  EXPECT_EQ(bytesOf("T", "S"), std::string("new\0", 4));
}

TEST_F(VeltregTest, DeleteRemovesValuesOrWholeTrees) {
  registerProvider();
  expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/v", "Extra", "/d", "x"});
  expectSuccess({"delete", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/v", "extra", "/f"});
  expectSuccess({"delete", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/va", "/f"});
  Outcome run = veltreg({"query", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/ve"});
  EXPECT_NE(run.out.find("(Default)    REG_SZ    (value not set)"), std::string::npos);

  Outcome declined = veltreg({"delete", "HKCR\\NorvexVeltProxyProvider.Cmpnt1"}, "n\n");
  EXPECT_EQ(declined.exitCode, 1);
  EXPECT_EQ(veltreg({"query", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\CurVer"}).exitCode, 0);

  Outcome agreed = veltreg({"delete", "HKCR\\NorvexVeltProxyProvider.Cmpnt1"}, "y\n");
  EXPECT_EQ(agreed.exitCode, 0);
  velt::UniqueRegistryKey gone;
  EXPECT_EQ(
      RegOpenKeyExA(HKEY_CLASSES_ROOT, "NorvexVeltProxyProvider.Cmpnt1", 0, KEY_READ, gone.put()),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(veltreg({"delete", "HKCR", "/f"}).exitCode, 1);  // a root is never deleted
}

TEST_F(VeltregTest, ExportWritesTheTreeAsARegFile) {
  registerProvider();
  expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", "/v", "Path", "/d", "C:\\\"P\""});
  expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\CLSID", "/v", "N", "/t", "REG_DWORD",
                 "/d", "10"});
  expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\Ünï", "/v", "Lines", "/d", "a\nb"});
  expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\Ünï", "/v", "X", "/t",
                 "REG_EXPAND_SZ", "/d", "%é%"});
  expectSuccess({"add", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\Ünï", "/v", "M", "/t",
                 "REG_MULTI_SZ", "/d", "a\\0b"});
  std::filesystem::path file = m_folder / "out.reg";
  expectSuccess({"export", "HKCR\\NorvexVeltProxyProvider.Cmpnt1", file.string()});
  // UTF-16LE with its byte-order mark and Windows line ends, as the format's readers take it.
  std::string bytes = slurp(file);
  ASSERT_EQ(bytes.substr(0, 2), "\xff\xfe");
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
    unsigned unit = static_cast<unsigned char>(bytes[i]) | static_cast<unsigned char>(bytes[i + 1])
                                                               << 8;
    text += unit == 0xDC ? "Ü" : unit == 0xEF ? "ï" : std::string(1, static_cast<char>(unit));
  }
  EXPECT_EQ(text,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1]\r\n"
            "@=\"NorvexVelt Proxy Provider, Release 1.0\"\r\n"
            "\"Path\"=\"C:\\\\\\\"P\\\"\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CLSID]\r\n"
            "@=\"{G}\"\r\n"
            "\"N\"=dword:0000000a\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\CurVer]\r\n"
            "@=\"NorvexVeltProxyProvider.Cmpnt1.1\"\r\n\r\n"
            "[HKEY_CLASSES_ROOT\\NorvexVeltProxyProvider.Cmpnt1\\Ünï]\r\n"
            // A line break cannot stand in a quoted string; text types are UTF-16 bytes.
            "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
            "\"M\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
            "\"X\"=hex(2):25,00,e9,00,25,00,00,00\r\n\r\n");
  Outcome kept =
      veltreg({"export", "HKCR\\NorvexVeltProxyProvider.Cmpnt1\\CurVer", file.string()}, "n\n");
  EXPECT_EQ(kept.exitCode, 1);
  EXPECT_EQ(slurp(file), bytes);
}

TEST_F(VeltregTest, AFailedExportLeavesTheOldFileWhole) {
  for (const char* name : {"V", "W"}) {
    expectSuccess({"add", "HKCU\\Big", "/v", name, "/d", std::string(100000, 'v')});
  }
  std::filesystem::path file = m_folder / "out.reg";
  std::ofstream(file) << "old content";
  // Files cannot grow beyond 256 KB or less, as on a full disk; the export needs 400 KB.
  std::string command = "trap '' XFSZ; ulimit -f 256; " + std::string(VELTREG_PATH) +
                        " export HKCU\\\\Big " + file.string() + " /y 2>" +
                        (m_folder / "err").string();
  int status = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
  EXPECT_EQ(slurp(m_folder / "err"),
            "ERROR: Unable to write to the file " + file.string() + ": File too large.\n");
  EXPECT_EQ(slurp(file), "old content");
  for (const auto& entry : std::filesystem::directory_iterator(m_folder)) {
    EXPECT_EQ(entry.path().string().find("out.reg."), std::string::npos) << "left behind";
  }
}

TEST_F(VeltregTest, StoreFailuresSayWhichFileAndWhyAndQueriesCreateNothing) {
  std::filesystem::path missing = m_folder / "missing.db";
  setenv("VELT_REGISTRY", missing.c_str(), 1);
  Outcome run = veltreg({"query", "HKCU\\Software"});
  EXPECT_EQ(run.err, kNotFound);
  EXPECT_FALSE(std::filesystem::exists(missing));

  std::filesystem::path garbage = m_folder / "garbage.db";
  std::ofstream(garbage) << std::string(4096, 'g');
  setenv("VELT_REGISTRY", garbage.c_str(), 1);
  run = veltreg({"query", "HKCU\\Software"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err,
            "ERROR: The registry operation on HKEY_CURRENT_USER\\Software failed: the "
            "registry file " +
                garbage.string() + " is damaged or is no registry: file is not a database.\n");
}

}  // namespace
