// Reads a file's version resource back with GetFileVersionInfo, the way
// Explorer's Properties page does, and checks it against what the build says.
// Usage: version_info_test FILE MAJOR.MINOR.PATCH PRODUCT_NAME ORIGINAL_FILENAME
// Prints every value it reads; exits with the number of failed checks.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static int failures = 0;

static void check(bool ok, const char* what) {
    printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

static std::string query_string(std::vector<char>& block, const char* language, const char* name) {
    std::string key = std::string("\\StringFileInfo\\") + language + "\\" + name;
    char* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) ||
        value == nullptr)
        return "";
    std::string text(value, length);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    printf("  %s = \"%s\"\n", name, text.c_str());
    return text;
}

static bool is_dll(const std::string& name) {
    return name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".dll") == 0;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: version_info_test FILE MAJOR.MINOR.PATCH PRODUCT_NAME ORIGINAL_FILENAME\n");
        return 100;
    }
    const char* file = argv[1];
    const std::string version = argv[2];
    const std::string product = argv[3];
    const std::string original = argv[4];
    unsigned major = 0, minor = 0, patch = 0;
    if (sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &patch) != 3) {
        fprintf(stderr, "version_info_test: %s is not MAJOR.MINOR.PATCH\n", argv[2]);
        return 100;
    }

    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    check(size > 0, "the file has a version resource");
    if (size == 0) return failures;
    std::vector<char> block(size);
    check(GetFileVersionInfoA(file, 0, size, block.data()) != 0, "GetFileVersionInfo reads it");

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    bool have_fixed = VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length) &&
                      fixed != nullptr && length >= sizeof(VS_FIXEDFILEINFO);
    check(have_fixed, "it has the fixed part");
    if (have_fixed) {
        auto part = [](DWORD word, int high) { return static_cast<unsigned>(high ? word >> 16 : word & 0xFFFF); };
        printf("  file version %u.%u.%u.%u, product version %u.%u.%u.%u, type %u\n",
               part(fixed->dwFileVersionMS, 1), part(fixed->dwFileVersionMS, 0),
               part(fixed->dwFileVersionLS, 1), part(fixed->dwFileVersionLS, 0),
               part(fixed->dwProductVersionMS, 1), part(fixed->dwProductVersionMS, 0),
               part(fixed->dwProductVersionLS, 1), part(fixed->dwProductVersionLS, 0),
               static_cast<unsigned>(fixed->dwFileType));
        const DWORD expected_ms = (static_cast<DWORD>(major) << 16) | minor;
        const DWORD expected_ls = static_cast<DWORD>(patch) << 16;
        check(fixed->dwSignature == 0xFEEF04BD, "fixed part signature");
        check(fixed->dwFileVersionMS == expected_ms && fixed->dwFileVersionLS == expected_ls,
              "file version is the build's version");
        check(fixed->dwProductVersionMS == expected_ms && fixed->dwProductVersionLS == expected_ls,
              "product version is the build's version");
        check(fixed->dwFileType == static_cast<DWORD>(is_dll(original) ? VFT_DLL : VFT_APP),
              "file type matches the file");
    }

    // The texts in the first language the resource lists, as Explorer shows them.
    struct Translation {
        WORD language, code_page;
    }* translations = nullptr;
    bool have_translation =
        VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations),
                       &length) &&
        translations != nullptr && length >= sizeof(Translation);
    check(have_translation, "it names a language");
    if (!have_translation) return failures;
    char language[16];
    snprintf(language, sizeof language, "%04x%04x", translations[0].language, translations[0].code_page);
    printf("  language block %s\n", language);

    check(query_string(block, language, "FileVersion") == version, "FileVersion text");
    check(query_string(block, language, "ProductVersion") == version, "ProductVersion text");
    check(query_string(block, language, "ProductName") == product, "ProductName");
    std::string description = query_string(block, language, "FileDescription");
    check(description.compare(0, product.size(), product) == 0, "FileDescription names the product");
    std::string copyright = query_string(block, language, "LegalCopyright");
    check(copyright.find("Copyright") != std::string::npos, "LegalCopyright holds a copyright notice");
    if (is_dll(original))
        check(query_string(block, language, "OriginalFilename") == original, "OriginalFilename");

    printf("%s: %d failed\n", file, failures);
    return failures;
}
