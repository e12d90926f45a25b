#pragma once
// Tilewright's main window: the open layout drawn with its textures, and beside it the list
// of its areas with the tiles each texture needs.

#include "product/tilewright/document.hpp"

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

namespace tilewright {

class texts;

inline constexpr const wchar_t* main_window_class = L"Tilewright.MainWindow";

class main_window {
public:
    main_window(const texts& strings, content_folders folders);
    ~main_window();
    main_window(const main_window&) = delete;
    main_window& operator=(const main_window&) = delete;

    // Creates and shows the window, then opens `path` when it is not empty (a failure to
    // open it is shown in a message box). Throws std::system_error when the window cannot
    // be created.
    void show(const std::wstring& path, int show_command);

    // Runs the message loop until the window is closed; returns the exit code.
    int run();

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT handle(UINT message, WPARAM w, LPARAM l);
    void build_menu();
    void open(const std::wstring& path);
    void choose_and_open();
    void paint(HDC dc, const RECT& client);
    void paint_legend(HDC dc, const RECT& box);
    void update_title();

    const texts& strings_;
    content_folders folders_;
    HWND window_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HFONT font_ = nullptr;
    HFONT bold_font_ = nullptr;
    std::optional<document> document_;
    // The drawing of the layout, kept until the document or the window size changes.
    picture plan_;
    RECT plan_box_{};
};

} // namespace tilewright
