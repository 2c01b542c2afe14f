// Walks a running installer or uninstaller through its pages as a user would:
// on each page it prints the page's texts, types the next of the given
// folders into the folder field when the page has one, answers a message box
// with OK (printing its text) and presses the default button (Next, I Agree,
// Install, Uninstall, Finish), until the window closes.
//
// Usage: installer_walk CAPTION SYNC_FOLDER [FOLDER...]
//   CAPTION      the start of the window title ("<name> Setup", "<name> Uninstall")
//   SYNC_FOLDER  before leaving page N the walker creates page-N.ready there and
//                waits up to 5 s for page-N.done, so that a script can take a
//                picture of the screen; "-" for none
//   FOLDER...    typed into the folder field one at a time; when a message box
//                answers the last one, the walker gives up (exit 1)
// Exits 0 when the window closed, 1 when it never appeared or did not close.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int nextButton = 1;      // the wizard's default button
constexpr int folderField = 1019;  // the folder page's edit field
constexpr int messageText = 0xFFFF;

// WM_GETTEXT rather than GetWindowText: it reads edit fields of other
// processes too.
std::string window_text(HWND hwnd) {
    char text[4096];
    LRESULT n = SendMessageA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

struct Texts {
    std::vector<std::string> lines;
    HWND folder = nullptr;
};

BOOL CALLBACK collect_child(HWND child, LPARAM param) {
    auto* texts = reinterpret_cast<Texts*>(param);
    if (!IsWindowVisible(child)) return TRUE;
    if (GetDlgCtrlID(child) == folderField) texts->folder = child;
    std::string text = window_text(child);
    if (!text.empty()) {
        for (char& c : text)
            if (c == '\r' || c == '\n') c = ' ';
        texts->lines.push_back("  [" + std::to_string(GetDlgCtrlID(child)) + "] " + text);
    }
    return TRUE;
}

struct BoxSearch {
    HWND wizard;
    DWORD thread;
    HWND box = nullptr;
};

BOOL CALLBACK find_box(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    if (hwnd == search->wizard || !IsWindowVisible(hwnd)) return TRUE;
    if (GetWindowThreadProcessId(hwnd, nullptr) != search->thread) return TRUE;
    if (GetDlgItem(hwnd, messageText) == nullptr) return TRUE;
    search->box = hwnd;
    return FALSE;
}

// NSIS titles its window "<name> Setup " (with a trailing blank): match the start.
struct WizardSearch {
    std::string caption;
    HWND found = nullptr;
};

BOOL CALLBACK find_wizard(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WizardSearch*>(param);
    if (!IsWindowVisible(hwnd) || window_text(hwnd).rfind(search->caption, 0) != 0) return TRUE;
    search->found = hwnd;
    return FALSE;
}

BOOL CALLBACK print_window(HWND hwnd, LPARAM) {
    if (IsWindowVisible(hwnd)) printf("  \"%s\"\n", window_text(hwnd).c_str());
    return TRUE;
}

void wait_for_picture(const std::string& sync, int page) {
    if (sync == "-") return;
    std::string ready = sync + "\\page-" + std::to_string(page) + ".ready";
    std::string done = sync + "\\page-" + std::to_string(page) + ".done";
    HANDLE file = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    for (int i = 0; i < 50 && GetFileAttributesA(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: installer_walk CAPTION SYNC_FOLDER [FOLDER...]\n");
        return 2;
    }
    const char* caption = argv[1];
    const std::string sync = argv[2];
    std::vector<std::string> folders(argv + 3, argv + argc);
    size_t next_folder = 0;

    HWND wizard = nullptr;
    for (int i = 0; i < 300 && wizard == nullptr; ++i) {
        WizardSearch search{caption};
        EnumWindows(find_wizard, reinterpret_cast<LPARAM>(&search));
        wizard = search.found;
        if (wizard == nullptr) Sleep(100);
    }
    if (wizard == nullptr) {
        printf("no window \"%s\"; the visible windows are:\n", caption);
        EnumWindows(print_window, 0);
        return 1;
    }
    DWORD thread = GetWindowThreadProcessId(wizard, nullptr);

    int page = 0;
    for (int step = 0; step < 200 && IsWindow(wizard); ++step) {
        Sleep(250);
        BoxSearch search{wizard, thread};
        EnumWindows(find_box, reinterpret_cast<LPARAM>(&search));
        if (search.box != nullptr) {
            std::string text = window_text(GetDlgItem(search.box, messageText));
            for (char& c : text)
                if (c == '\r' || c == '\n') c = ' ';
            printf("MESSAGE: %s\n", text.c_str());
            wait_for_picture(sync, ++page);
            PostMessageA(search.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            if (next_folder == folders.size() && !folders.empty()) {
                printf("no folder left to try\n");
                return 1;
            }
            continue;
        }
        HWND next = GetDlgItem(wizard, nextButton);
        if (next == nullptr || !IsWindowEnabled(next) || !IsWindowVisible(next)) continue;  // still working
        Texts texts;
        EnumChildWindows(wizard, collect_child, reinterpret_cast<LPARAM>(&texts));
        printf("PAGE %d\n", ++page);
        for (const std::string& line : texts.lines) printf("%s\n", line.c_str());
        fflush(stdout);
        if (texts.folder != nullptr && next_folder < folders.size()) {
            SetWindowTextA(texts.folder, folders[next_folder].c_str());
            printf("  typed %s\n", folders[next_folder].c_str());
            ++next_folder;
        }
        wait_for_picture(sync, page);
        PostMessageA(wizard, WM_COMMAND, MAKEWPARAM(nextButton, BN_CLICKED), reinterpret_cast<LPARAM>(next));
        Sleep(500);  // the next page (or the end) is up well within this
    }
    fflush(stdout);
    if (IsWindow(wizard)) {
        printf("the window did not close\n");
        return 1;
    }
    printf("CLOSED\n");
    return 0;
}
