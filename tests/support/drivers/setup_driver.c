/* Drives vxflash.exe's property sheet from another process under Wine, for setup_wine.sh.
 * Usage: setup_driver CAPTION SECONDS COMMAND...
 * Waits up to SECONDS for the sheet titled CAPTION, then runs each command in order:
 *   pages           "pages N": the number of pages
 *   kinds           "page I setup|other" for each page, shown in turn (leaving the setup
 *                   page writes flash.ini); page 0 is shown again at the end
 *   show I          makes page I the current one
 *   dump            the current page's setup controls, one line each:
 *                   "box ID checked|unchecked enabled|disabled"
 *                   "list ID enabled|disabled sel=N text=T [A|B|...]"
 *   click ID        clicks a check box of the current page
 *   choose ID TEXT  selects the entry TEXT of a list of the current page
 *   buttons         "buttons OK-TEXT cancel enabled|disabled": the sheet's OK button text
 *                   (it reads Close once nothing can be cancelled) and its Cancel button
 *   ok | close      presses OK / Cancel
 * Exit code 0 when every command could be carried out, 1 otherwise. */
#include <windows.h>
// after windows.h
#include <commctrl.h>
#include <prsht.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static HWND sheet;

static const int BOXES[] = {1022, 1023, 1024};
static const int LISTS[] = {1001, 1005, 1002, 1003, 1004, 1006, 1025};

static HWND current_page(void) {
    return (HWND)SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0);
}

static int page_count(void) {
    HWND tab = (HWND)SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0);
    return tab ? (int)SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0) : 0;
}

static void to_utf8(const WCHAR* in, char* out, int size) {
    if (WideCharToMultiByte(CP_UTF8, 0, in, -1, out, size, NULL, NULL) == 0)
        out[0] = '\0';
}

static void window_text(HWND w, char* out, int size) {
    WCHAR wide[256] = {0};
    SendMessageW(w, WM_GETTEXT, 256, (LPARAM)wide);
    to_utf8(wide, out, size);
}

static int entry_text(HWND combo, int i, char* out, int size) {
    WCHAR wide[256] = {0};
    LRESULT len = SendMessageW(combo, CB_GETLBTEXTLEN, (WPARAM)i, 0);
    if (len < 0 || len >= 256)
        return 0;
    SendMessageW(combo, CB_GETLBTEXT, (WPARAM)i, (LPARAM)wide);
    to_utf8(wide, out, size);
    return 1;
}

static void dump(HWND page) {
    for (size_t b = 0; b < sizeof BOXES / sizeof BOXES[0]; ++b) {
        HWND w = GetDlgItem(page, BOXES[b]);
        if (!w)
            continue;
        LRESULT state = SendMessageW(w, BM_GETCHECK, 0, 0);
        printf("box %d %s %s\n", BOXES[b], state == BST_CHECKED ? "checked" : "unchecked",
               IsWindowEnabled(w) ? "enabled" : "disabled");
    }
    for (size_t l = 0; l < sizeof LISTS / sizeof LISTS[0]; ++l) {
        HWND w = GetDlgItem(page, LISTS[l]);
        char text[512];
        if (!w)
            continue;
        window_text(w, text, sizeof text);
        printf("list %d %s sel=%d text=%s [", LISTS[l], IsWindowEnabled(w) ? "enabled" : "disabled",
               (int)SendMessageW(w, CB_GETCURSEL, 0, 0), text);
        LRESULT n = SendMessageW(w, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < n; ++i) {
            char entry[512];
            if (entry_text(w, i, entry, sizeof entry))
                printf("%s%s", i ? "|" : "", entry);
        }
        printf("]\n");
    }
}

static int choose(HWND page, int id, const char* wanted) {
    HWND w = GetDlgItem(page, id);
    if (!w)
        return 0;
    LRESULT n = SendMessageW(w, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < n; ++i) {
        char entry[512];
        if (entry_text(w, i, entry, sizeof entry) && strcmp(entry, wanted) == 0) {
            SendMessageW(w, CB_SETCURSEL, (WPARAM)i, 0);
            /* CB_SETCURSEL notifies nobody; a user's choice would. */
            SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)w);
            return 1;
        }
    }
    fprintf(stderr, "no entry %s in list %d\n", wanted, id);
    return 0;
}

static void settle(void) {
    /* Let the sheet's posted messages run before the next look. */
    Sleep(150);
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: setup_driver CAPTION SECONDS COMMAND...\n");
        return 2;
    }
    const DWORD limit = (DWORD)atoi(argv[2]) * 1000;
    const DWORD start = GetTickCount();
    while ((sheet = FindWindowA("#32770", argv[1])) == NULL) {
        if (GetTickCount() - start > limit) {
            fprintf(stderr, "no sheet \"%s\"\n", argv[1]);
            return 1;
        }
        Sleep(100);
    }
    settle();
    setvbuf(stdout, NULL, _IONBF, 0);
    for (int i = 3; i < argc; ++i) {
        const char* cmd = argv[i];
        if (strcmp(cmd, "pages") == 0) {
            printf("pages %d\n", page_count());
        } else if (strcmp(cmd, "kinds") == 0) {
            const int n = page_count();
            for (int p = 0; p < n; ++p) {
                SendMessageW(sheet, PSM_SETCURSEL, (WPARAM)p, 0);
                settle();
                HWND page = current_page();
                printf("page %d %s\n", p, page && GetDlgItem(page, 1022) ? "setup" : "other");
            }
            SendMessageW(sheet, PSM_SETCURSEL, 0, 0);
            settle();
        } else if (strcmp(cmd, "show") == 0 && i + 1 < argc) {
            SendMessageW(sheet, PSM_SETCURSEL, (WPARAM)atoi(argv[++i]), 0);
            settle();
        } else if (strcmp(cmd, "dump") == 0) {
            dump(current_page());
        } else if (strcmp(cmd, "click") == 0 && i + 1 < argc) {
            HWND w = GetDlgItem(current_page(), atoi(argv[++i]));
            if (!w) {
                fprintf(stderr, "no control %s\n", argv[i]);
                return 1;
            }
            SendMessageW(w, BM_CLICK, 0, 0);
            settle();
        } else if (strcmp(cmd, "choose") == 0 && i + 2 < argc) {
            if (!choose(current_page(), atoi(argv[i + 1]), argv[i + 2]))
                return 1;
            i += 2;
        } else if (strcmp(cmd, "buttons") == 0) {
            char text[256];
            window_text(GetDlgItem(sheet, IDOK), text, sizeof text);
            printf("buttons %s cancel %s\n", text,
                   IsWindowEnabled(GetDlgItem(sheet, IDCANCEL)) ? "enabled" : "disabled");
        } else if (strcmp(cmd, "ok") == 0) {
            PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        } else if (strcmp(cmd, "close") == 0) {
            PostMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        } else {
            fprintf(stderr, "unknown command %s\n", cmd);
            return 1;
        }
    }
    return 0;
}
