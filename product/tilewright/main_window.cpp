#include "product/tilewright/main_window.hpp"

#include "pages/version_info.hpp"
#include "product/tilewright/resource_ids.h"
#include "product/tilewright/texts.hpp"

#include <commdlg.h>

#include <cmath>
#include <system_error>

namespace tilewright {
namespace {

constexpr int legend_width = 300;
constexpr int header_height = 56;
constexpr int padding = 12;
constexpr int swatch = 22;
constexpr COLORREF background = RGB(0xEE, 0xEC, 0xE8);
constexpr COLORREF ink = RGB(0x20, 0x20, 0x20);
constexpr COLORREF faint_ink = RGB(0x60, 0x60, 0x60);
constexpr COLORREF warning_ink = RGB(0xB0, 0x20, 0x10);

std::wstring file_name(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A texture's or module's file name as a person reads it: "Marble_Black" is "Marble Black".
std::wstring display_name(std::wstring name)
{
    for (wchar_t& c : name)
        if (c == L'_')
            c = L' ';
    return name;
}

std::wstring metres(int millimetres)
{
    return fmt::format(L"{:.2f}", millimetres / 1000.0);
}

void blit(HDC dc, int x, int y, const picture& p)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = p.width;
    info.bmiHeader.biHeight = -p.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, x, y, p.width, p.height, 0, 0, 0, p.height, p.pixels.data(), &info, DIB_RGB_COLORS);
}

// A small square of a texture, for the legend.
picture swatch_of(const picture& texture)
{
    picture out(swatch, swatch);
    for (int y = 0; y < swatch; ++y)
        for (int x = 0; x < swatch; ++x)
            out.at(x, y) = texture.at(x * texture.width / (2 * swatch), y * texture.height / (2 * swatch));
    return out;
}

int text_line(HDC dc, HFONT font, COLORREF colour, int x, int y, int width, const std::wstring& text)
{
    SelectObject(dc, font);
    SetTextColor(dc, colour);
    RECT box{x, y, x + width, y + 1000};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    box.right = x + width;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
    return box.bottom - box.top;
}

} // namespace

main_window::main_window(const texts& strings, content_folders folders)
    : strings_(strings), folders_(std::move(folders))
{
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    LOGFONTW base = metrics.lfMessageFont;
    font_ = CreateFontIndirectW(&base);
    base.lfWeight = FW_BOLD;
    base.lfHeight = base.lfHeight * 3 / 2;
    bold_font_ = CreateFontIndirectW(&base);
}

main_window::~main_window()
{
    if (window_)
        DestroyWindow(window_);
    if (accelerators_)
        DestroyAcceleratorTable(accelerators_);
    DeleteObject(font_);
    DeleteObject(bold_font_);
}

void main_window::show(const std::wstring& path, int show_command)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof cls;
    cls.style = CS_HREDRAW | CS_VREDRAW;
    cls.lpfnWndProc = &main_window::procedure;
    cls.hInstance = instance;
    cls.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_TILEWRIGHT));
    cls.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_TILEWRIGHT), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.lpszClassName = main_window_class;
    if (!RegisterClassExW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "RegisterClassExW");
    ACCEL keys[] = {{FVIRTKEY | FCONTROL, 'O', IDM_OPEN}, {FVIRTKEY, VK_F5, IDM_RELOAD}};
    accelerators_ = CreateAcceleratorTableW(keys, 2);
    window_ = CreateWindowExW(0, main_window_class, L"Tilewright", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                              1100, 760, nullptr, nullptr, instance, this);
    if (!window_)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateWindowExW");
    build_menu();
    update_title();
    ShowWindow(window_, show_command);
    UpdateWindow(window_);
    if (!path.empty())
        open(path);
}

int main_window::run()
{
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!TranslateAcceleratorW(window_, accelerators_, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

void main_window::build_menu()
{
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IDM_OPEN, strings_.get(IDS_MENU_OPEN).c_str());
    AppendMenuW(file, MF_STRING, IDM_RELOAD, strings_.get(IDS_MENU_RELOAD).c_str());
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, IDM_EXIT, strings_.get(IDS_MENU_EXIT).c_str());
    HMENU help = CreatePopupMenu();
    AppendMenuW(help, MF_STRING, IDM_ABOUT, strings_.get(IDS_MENU_ABOUT).c_str());
    HMENU bar = CreateMenu();
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), strings_.get(IDS_MENU_FILE).c_str());
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(help), strings_.get(IDS_MENU_HELP).c_str());
    SetMenu(window_, bar);
}

void main_window::update_title()
{
    if (!document_) {
        SetWindowTextW(window_, L"Tilewright");
        return;
    }
    const std::wstring name = document_->doc.title.empty() ? file_name(document_->path) : document_->doc.title;
    SetWindowTextW(window_, strings_.format(IDS_WINDOW_TITLE, name).c_str());
}

void main_window::open(const std::wstring& path)
{
    std::wstring problem;
    try {
        document_ = load_document(path, folders_, strings_);
    } catch (const parse_error& e) {
        problem = describe(e, strings_);
    } catch (const std::system_error& e) {
        problem = describe(e);
    }
    plan_ = {};
    update_title();
    InvalidateRect(window_, nullptr, TRUE);
    if (!problem.empty())
        MessageBoxW(window_, strings_.format(IDS_OPEN_FAILED, path, problem).c_str(), L"Tilewright",
                    MB_OK | MB_ICONERROR);
}

void main_window::choose_and_open()
{
    const std::wstring filter = strings_.get(IDS_FILTER_LAYOUTS) + L'\0' + L"*.cal" + L'\0' +
                                strings_.get(IDS_FILTER_ALL) + L'\0' + L"*.*" + L'\0' + L'\0';
    wchar_t path[MAX_PATH] = {};
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = window_;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = path;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrDefExt = L"cal";
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameW(&ofn))
        open(path);
}

void main_window::paint(HDC dc, const RECT& client)
{
    HBRUSH back = CreateSolidBrush(background);
    FillRect(dc, &client, back);
    DeleteObject(back);
    SetBkMode(dc, TRANSPARENT);
    const int width = client.right - client.left;
    if (!document_) {
        text_line(dc, font_, faint_ink, padding, padding, width - 2 * padding, strings_.get(IDS_NO_LAYOUT));
        return;
    }
    const layout& doc = document_->doc;
    const std::wstring name = doc.title.empty() ? file_name(document_->path) : doc.title;
    int y = padding;
    y += text_line(dc, bold_font_, ink, padding, y, width - 2 * padding, name);
    text_line(dc, font_, faint_ink, padding, y + 2, width - 2 * padding,
              strings_.format(IDS_SUMMARY, doc.columns, doc.rows, doc.cell_size, metres(doc.columns * doc.cell_size),
                              metres(doc.rows * doc.cell_size), doc.grout_width));

    const RECT box{client.left, client.top + header_height, client.right - legend_width, client.bottom};
    const int box_width = box.right - box.left, box_height = box.bottom - box.top;
    if (box_width > 2 * padding && box_height > 2 * padding) {
        if (plan_.width != box_width || plan_.height != box_height) {
            plan_ = picture(box_width, box_height, 0xEEECE8);
            draw_layout(doc, document_->set, fit(doc, box_width, box_height, padding), plan_);
        }
        blit(dc, box.left, box.top, plan_);
    }
    paint_legend(dc, RECT{client.right - legend_width, client.top + header_height, client.right, client.bottom});
}

void main_window::paint_legend(HDC dc, const RECT& box)
{
    const layout& doc = document_->doc;
    const int x = box.left + padding, width = box.right - box.left - 2 * padding;
    int y = box.top + padding;
    int total = 0, total_cut = 0;
    for (std::size_t i = 0; i < doc.areas.size(); ++i) {
        const area& a = doc.areas[i];
        const auto found = document_->set.modules.find(a.module);
        const std::wstring module_name = found != document_->set.modules.end() && !found->second.name.empty()
                                             ? found->second.name
                                             : display_name(a.module);
        y += text_line(dc, bold_font_, ink, x, y, width, strings_.format(IDS_AREA, i + 1, module_name)) + 4;
        if (found == document_->set.modules.end()) {
            const auto problem = document_->module_problems.find(a.module);
            y += text_line(dc, font_, warning_ink, x, y, width,
                           strings_.format(IDS_MODULE_MISSING, a.module,
                                           problem != document_->module_problems.end() ? problem->second : L"")) +
                 8;
            continue;
        }
        for (const auto& [slot, count] : document_->counts[i]) {
            total += count.whole + count.cut;
            total_cut += count.cut;
            const auto texture_name = a.slots.find(slot);
            std::wstring label;
            bool missing = true;
            if (texture_name == a.slots.end()) {
                label = strings_.format(IDS_NO_SLOT_TEXTURE, std::wstring(1, slot));
            } else {
                const auto texture = document_->set.textures.find(texture_name->second);
                missing = texture == document_->set.textures.end();
                label = missing ? strings_.format(IDS_TEXTURE_MISSING, display_name(texture_name->second))
                                : display_name(texture_name->second);
                if (!missing)
                    blit(dc, x, y, swatch_of(texture->second));
            }
            if (missing) {
                RECT square{x, y, x + swatch, y + swatch};
                HBRUSH grey = CreateSolidBrush(RGB(0x90, 0x90, 0x90));
                FillRect(dc, &square, grey);
                DeleteObject(grey);
            }
            const int h = text_line(dc, font_, missing ? warning_ink : ink, x + swatch + 8, y, width - swatch - 8,
                                    strings_.format(IDS_SLOT_TILES, label, count.whole + count.cut, count.cut));
            y += std::max(h, swatch) + 6;
        }
        y += 8;
    }
    text_line(dc, bold_font_, ink, x, y, width, strings_.format(IDS_TOTAL, total, total_cut));
}

LRESULT CALLBACK main_window::procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_NCDESTROY) {
        if (auto* self = reinterpret_cast<main_window*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            self->window_ = nullptr;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return DefWindowProcW(window, message, w, l);
    }
    if (message == WM_NCCREATE) {
        auto* self = static_cast<main_window*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<main_window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return DefWindowProcW(window, message, w, l);
    // No exception leaves a window procedure.
    try {
        return self->handle(message, w, l);
    } catch (...) {
        MessageBeep(MB_ICONERROR);
        return message == WM_PAINT ? 0 : DefWindowProcW(window, message, w, l);
    }
}

LRESULT main_window::handle(UINT message, WPARAM w, LPARAM l)
{
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(w)) {
        case IDM_OPEN:
            choose_and_open();
            return 0;
        case IDM_RELOAD:
            if (document_)
                open(document_->path);
            return 0;
        case IDM_EXIT:
            PostMessageW(window_, WM_CLOSE, 0, 0);
            return 0;
        case IDM_ABOUT:
            MessageBoxW(window_, strings_.format(IDS_ABOUT_TEXT, setup::version_info::load_own().product_version()).c_str(),
                        strings_.get(IDS_ABOUT_TITLE).c_str(), MB_OK | MB_ICONINFORMATION);
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window_, &ps);
        RECT client;
        GetClientRect(window_, &client);
        // Drawn off screen, then copied: no flicker while resizing.
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, std::max<LONG>(1, client.right), std::max<LONG>(1, client.bottom));
        HGDIOBJ old_bitmap = SelectObject(memory, bitmap);
        HGDIOBJ old_font = SelectObject(memory, font_);
        paint(memory, client);
        BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old_font);
        SelectObject(memory, old_bitmap);
        DeleteObject(bitmap);
        DeleteDC(memory);
        EndPaint(window_, &ps);
        return 0;
    }
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(l);
        info->ptMinTrackSize = {640, 420};
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window_, message, w, l);
}

} // namespace tilewright
