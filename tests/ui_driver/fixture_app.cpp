// A small program for the UI driver's tests, chosen by its first argument:
//   dialog [QUESTION]   a dialog with the question in an edit box, a ComboBoxEx of colours and
//                       an "Ask" button. "Ask" shows a Yes/No/Cancel box owned by the dialog with
//                       the edit box's text; Yes ends with 10 + the selected colour's index, No
//                       with 20 + that index, Cancel leaves the dialog open and shows "Cancelled".
//                       Choosing a colour shows its name. The title is MW_FIXTURE_TITLE when set.
//                       Two child pages hold a text of the same id: "First page", shown, and
//                       "Second page", hidden.
//                       What the dialog hears is shown in its statics: a click of the check
//                       box or of a radio button names the new state ("option on", "second
//                       chosen"), the name box getting the focus "name focused", each change of
//                       the name box "<EN_UPDATE count>/<EN_CHANGE count> <text>", and every
//                       WM_SIZE the client size ("client 300 x 200"). "Step" advances the
//                       progress bar (range 10 to 250, at 40, by 15). The dialog ends with 40
//                       for OK (Enter), 30 for Cancel (Esc), 31 for WM_CLOSE and 32 for
//                       WM_CLOSE after Close in its system menu.
//   box TEXT            a Retry/Cancel warning box without owner; ends with the answer's id.
//   exit CODE           ends at once with CODE (a signed number).
//   env NAME [VALUE]    ends with 0 when the variable NAME is VALUE, 1 when it is something
//                       else, 2 when it is not set.
//   sleep               waits a minute, then ends with 0.

#include "fixture_ids.h"

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const wchar_t* const colours[] = {L"Red", L"Green", L"Blue", L"T\u00fcrkis"};

// What the dialog has heard so far.
int name_updates = 0;
int name_changes = 0;
bool closing_from_system_menu = false;

// The value of an environment variable; false when it is not set.
bool environment_variable(const std::wstring& name, std::wstring& value)
{
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0)
        return false;
    value.assign(size, L'\0');
    value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), size));
    return true;
}

std::wstring text_of(HWND window)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

INT_PTR CALLBACK page_procedure(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

void add_page(HWND dialog, const wchar_t* text, bool shown)
{
    HWND page = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PAGE), dialog, page_procedure, 0);
    SetDlgItemTextW(page, IDC_PAGE_TEXT, text);
    RECT place{7, 64, 0, 0};
    MapDialogRect(dialog, &place);
    SetWindowPos(page, nullptr, place.left, place.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(page, shown ? SW_SHOW : SW_HIDE);
}

INT_PTR CALLBACK fixture_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetDlgItemTextW(dialog, IDC_QUESTION, reinterpret_cast<const wchar_t*>(lparam));
        std::wstring title;
        if (environment_variable(L"MW_FIXTURE_TITLE", title))
            SetWindowTextW(dialog, title.c_str());
        HWND combo = GetDlgItem(dialog, IDC_COLOURS);
        for (const wchar_t* colour : colours) {
            COMBOBOXEXITEMW item{};
            item.mask = CBEIF_TEXT;
            item.iItem = -1;
            item.pszText = const_cast<wchar_t*>(colour);
            SendMessageW(combo, CBEM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        SendMessageW(combo, CB_SETCURSEL, 0, 0);
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETRANGE32, 10, 250);
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETPOS, 40, 0);
        SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_SETSTEP, 15, 0);
        add_page(dialog, L"Second page", false);
        add_page(dialog, L"First page", true);
        return TRUE;
    }
    case WM_SIZE:
        SetDlgItemTextW(dialog, IDC_CLIENT_SIZE,
                        (L"client " + std::to_wstring(LOWORD(lparam)) + L" x " + std::to_wstring(HIWORD(lparam))).c_str());
        return TRUE;
    case WM_SYSCOMMAND:
        if ((wparam & 0xFFF0) == SC_CLOSE)
            closing_from_system_menu = true;
        return FALSE; // the default handling sends WM_CLOSE
    case WM_CLOSE:
        EndDialog(dialog, closing_from_system_menu ? 32 : 31);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wparam)) {
        case IDC_OPTION:
            if (HIWORD(wparam) == BN_CLICKED)
                SetDlgItemTextW(dialog, IDC_EVENT,
                                IsDlgButtonChecked(dialog, IDC_OPTION) == BST_CHECKED ? L"option on" : L"option off");
            return TRUE;
        case IDC_RADIO_FIRST:
        case IDC_RADIO_SECOND:
            if (HIWORD(wparam) == BN_CLICKED)
                SetDlgItemTextW(dialog, IDC_EVENT,
                                IsDlgButtonChecked(dialog, IDC_RADIO_SECOND) == BST_CHECKED ? L"second chosen"
                                                                                           : L"first chosen");
            return TRUE;
        case IDC_LOCKED:
            if (HIWORD(wparam) == BN_CLICKED)
                SetDlgItemTextW(dialog, IDC_EVENT, L"locked clicked");
            return TRUE;
        case IDC_NAME:
            if (HIWORD(wparam) == EN_UPDATE)
                ++name_updates;
            else if (HIWORD(wparam) == EN_CHANGE)
                SetDlgItemTextW(dialog, IDC_ECHO,
                                (std::to_wstring(name_updates) + L"/" + std::to_wstring(++name_changes) + L" " +
                                 text_of(GetDlgItem(dialog, IDC_NAME)))
                                    .c_str());
            else if (HIWORD(wparam) == EN_SETFOCUS)
                SetDlgItemTextW(dialog, IDC_EVENT, L"name focused");
            return TRUE;
        case IDC_STEP:
            if (HIWORD(wparam) == BN_CLICKED)
                SendDlgItemMessageW(dialog, IDC_PROGRESS, PBM_STEPIT, 0, 0);
            return TRUE;
        case IDOK:
            EndDialog(dialog, 40);
            return TRUE;
        case IDC_COLOURS:
            if (HIWORD(wparam) == CBN_SELCHANGE) {
                const auto index = SendDlgItemMessageW(dialog, IDC_COLOURS, CB_GETCURSEL, 0, 0);
                if (index >= 0 && index < static_cast<LRESULT>(std::size(colours)))
                    SetDlgItemTextW(dialog, IDC_STATUS, colours[index]);
            }
            return TRUE;
        case IDC_ASK: {
            const std::wstring question = text_of(GetDlgItem(dialog, IDC_QUESTION));
            const int answer =
                MessageBoxW(dialog, question.c_str(), L"Fixture question", MB_YESNOCANCEL | MB_ICONQUESTION);
            const auto index = static_cast<INT_PTR>(SendDlgItemMessageW(dialog, IDC_COLOURS, CB_GETCURSEL, 0, 0));
            if (answer == IDYES)
                EndDialog(dialog, 10 + index);
            else if (answer == IDNO)
                EndDialog(dialog, 20 + index);
            else
                SetDlgItemTextW(dialog, IDC_STATUS, L"Cancelled");
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, 30);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> args(argv + 1, argv + count);
    LocalFree(argv);
    if (args.empty())
        return 100;
    const std::wstring& mode = args[0];

    if (mode == L"dialog") {
        INITCOMMONCONTROLSEX classes{sizeof classes, ICC_USEREX_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&classes);
        const std::wstring question = args.size() > 1 ? args[1] : L"";
        return static_cast<int>(DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FIXTURE), nullptr, fixture_procedure,
                                                reinterpret_cast<LPARAM>(question.c_str())));
    }
    if (mode == L"box" && args.size() == 2)
        return MessageBoxW(nullptr, args[1].c_str(), L"Fixture start-up", MB_RETRYCANCEL | MB_ICONWARNING);
    if (mode == L"exit" && args.size() == 2)
        return std::wcstol(args[1].c_str(), nullptr, 10);
    if (mode == L"env" && (args.size() == 2 || args.size() == 3)) {
        std::wstring value;
        if (!environment_variable(args[1], value))
            return 2;
        return value == (args.size() == 3 ? args[2] : L"") ? 0 : 1;
    }
    if (mode == L"sleep") {
        Sleep(60000);
        return 0;
    }
    return 100;
}
