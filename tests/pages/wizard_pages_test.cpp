// The start, mode, options and end pages on their real templates: their texts in the current
// language, the language box, the mode's radio buttons, the options' folder box and check
// boxes, the end page's completion text, and the templates' controls.

#include "pages/dlg_end.hpp"
#include "pages/dlg_mode.hpp"
#include "pages/dlg_options.hpp"
#include "pages/dlg_start.hpp"

#include "app/message_box.hpp"
#include "app/string_table.hpp"
#include "engine/known_folders.hpp"
#include "pages/product.hpp"
#include "resources/resource_ids.h"
#include "support/paths.hpp"
#include "tests/pages/page_testing.hpp"

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace setup;
using namespace std::chrono_literals;
using page_testing::page_test;
using page_testing::pump_messages;
using page_testing::unique_window;
using testing_support::control_text;

std::wstring text(unsigned id)
{
    return load_string(id);
}

// ---------------------------------------------------------------------------------------------
// Start page

class start_page : public page_test {
protected:
    dlg_start page{context, [this] {
                       languages_seen.push_back(current_language().index);
                       if (page.hwnd())
                           page.update_texts();
                   }};
    std::vector<language_index> languages_seen; // the language at each texts_changed call

    HWND language_box() const { return GetDlgItem(page.hwnd(), IDC_LANGUAGE_LIST); }
    // The user's choice of entry `index` in the box, as the box tells the page.
    void choose(int index)
    {
        SendMessageW(language_box(), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(page.hwnd(), WM_COMMAND, MAKEWPARAM(IDC_LANGUAGE_LIST, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(language_box()));
    }
};

TEST_F(start_page, the_texts_follow_the_detection_result_in_the_current_language)
{
    const std::wstring older = L"Tilewright 1.21";
    const std::wstring newer = L"Tilewright 1.30";
    for (language_index language : {english_language, language_index{2}}) {
        set_language(language);
        const struct {
            install_state state;
            std::wstring installed_text;
            std::wstring info;
            std::wstring status;
        } cases[] = {
            {install_state::not_installed, L"", format_text(text(IDS_FIRST_INSTALLATION), product_title),
             format_text(text(IDS_CONTINUE), text(IDS_NEXT))},
            {install_state::older_version_installed, older, format_text(text(IDS_UPDATE), older, product_title),
             format_text(text(IDS_CONTINUE), text(IDS_NEXT))},
            // A version text left in the context is not shown for the same version.
            {install_state::same_version_installed, older,
             format_text(text(IDS_ALREADY_INSTALLED), product_title) + L"\n" + text(IDS_CONFIRM_REINSTALLATION),
             format_text(text(IDS_CONTINUE_OR_EXIT), text(IDS_NEXT), text(IDS_CANCEL))},
            {install_state::newer_version_installed, newer,
             format_text(text(IDS_FIRST_INSTALLATION), product_title) + L"\n" +
                 format_text(text(IDS_NEWER_INSTALLED), newer),
             format_text(text(IDS_EXIT_INSTALLATION), text(IDS_CANCEL))},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << "language " << language << ", state " << static_cast<int>(c.state));
            context.install_state = c.state;
            context.installed_version_text = c.installed_text;
            dlg_start shown{context, {}};
            unique_window window = create_page(shown, IDD_START);
            ASSERT_TRUE(window);
            EXPECT_EQ(control_text(window.get(), IDC_INFO), c.info);
            EXPECT_EQ(control_text(window.get(), IDC_STATUS_LINE), c.status);
            EXPECT_EQ(control_text(window.get(), IDC_LANGUAGE_LABEL), text(IDS_SELECT_LANGUAGE));
        }
    }
}

TEST_F(start_page, update_texts_rebuilds_every_text_in_the_new_language)
{
    context.install_state = install_state::same_version_installed;
    unique_window window = create_page(page, IDD_START);
    ASSERT_TRUE(window);
    const std::wstring english_info = control_text(window.get(), IDC_INFO);

    set_language(2);
    page.update_texts();
    const std::wstring german_info =
        format_text(text(IDS_ALREADY_INSTALLED), product_title) + L"\n" + text(IDS_CONFIRM_REINSTALLATION);
    EXPECT_NE(german_info, english_info);
    EXPECT_EQ(control_text(window.get(), IDC_INFO), german_info);
    EXPECT_EQ(control_text(window.get(), IDC_LANGUAGE_LABEL), text(IDS_SELECT_LANGUAGE));
    EXPECT_EQ(control_text(window.get(), IDC_STATUS_LINE),
              format_text(text(IDS_CONTINUE_OR_EXIT), text(IDS_NEXT), text(IDS_CANCEL)));
}

TEST_F(start_page, the_language_box_lists_the_four_languages_with_their_flags)
{
    unique_window window = create_page(page, IDD_START);
    ASSERT_TRUE(window);
    HWND box = language_box();
    EXPECT_EQ(testing_support::window_class(box), L"ComboBoxEx32");
    EXPECT_EQ(testing_support::combo_items(box),
              (std::vector<std::wstring>{L"Français", L"English", L"Deutsch", L"Español"}));

    auto images = reinterpret_cast<HIMAGELIST>(SendMessageW(box, CBEM_GETIMAGELIST, 0, 0));
    ASSERT_TRUE(images);
    EXPECT_EQ(ImageList_GetImageCount(images), 4);
    int width = 0, height = 0;
    ASSERT_TRUE(ImageList_GetIconSize(images, &width, &height));
    EXPECT_EQ(width, 18);
    EXPECT_EQ(height, 12);

    std::set<int> images_used;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        COMBOBOXEXITEMW item{};
        item.mask = CBEIF_IMAGE | CBEIF_SELECTEDIMAGE | CBEIF_LPARAM;
        item.iItem = i;
        ASSERT_TRUE(SendMessageW(box, CBEM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
        EXPECT_EQ(item.lParam, i) << "the item data is the language";
        EXPECT_GE(item.iImage, 0);
        EXPECT_LT(item.iImage, 4);
        EXPECT_EQ(item.iSelectedImage, item.iImage);
        images_used.insert(item.iImage);
    }
    EXPECT_EQ(images_used.size(), 4u) << "each language has its own flag";
}

TEST_F(start_page, the_current_language_is_selected_when_it_is_offered)
{
    const struct {
        language_index current;
        int selected;
    } cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {11, -1}, {5, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.current);
        set_language(c.current);
        dlg_start shown{context, {}};
        unique_window window = create_page(shown, IDD_START);
        ASSERT_TRUE(window);
        EXPECT_EQ(testing_support::combo_selection(GetDlgItem(window.get(), IDC_LANGUAGE_LIST)), c.selected);
    }
}

TEST_F(start_page, choosing_an_offered_language_makes_it_current_without_a_box)
{
    unique_window window = create_page(page, IDD_START);
    ASSERT_TRUE(window);
    // Any box would be answered here, so that the case fails instead of waiting.
    auto boxes = testing_support::answer_own_boxes({IDOK, IDOK, IDOK, IDOK}, std::nullopt, 1500ms);
    const int order[] = {2, 0, 3, 1};
    for (int entry : order) {
        SCOPED_TRACE(entry);
        choose(entry);
        EXPECT_EQ(current_language().index, static_cast<language_index>(entry));
        ASSERT_FALSE(languages_seen.empty());
        EXPECT_EQ(languages_seen.back(), static_cast<language_index>(entry)) << "texts refreshed after the change";
        EXPECT_EQ(control_text(window.get(), IDC_LANGUAGE_LABEL), text(IDS_SELECT_LANGUAGE));
    }
    EXPECT_EQ(languages_seen.size(), std::size(order));
    EXPECT_TRUE(boxes.get().empty());
}

TEST_F(start_page, a_language_without_translated_texts_is_announced)
{
    unique_window window = create_page(page, IDD_START);
    ASSERT_TRUE(window);
    constexpr language_index dutch = 5;
    ASSERT_FALSE(ui_translated(dutch));
    COMBOBOXEXITEMW item{};
    item.mask = CBEIF_LPARAM;
    item.iItem = 0;
    item.lParam = dutch;
    ASSERT_TRUE(SendMessageW(language_box(), CBEM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    SendMessageW(language_box(), CB_SETCURSEL, 0, 0);

    auto boxes = testing_support::answer_own_boxes({IDOK});
    EXPECT_TRUE(page.on_command(IDC_LANGUAGE_LIST, CBN_SELCHANGE));
    const auto shown = boxes.get();

    EXPECT_EQ(current_language().index, dutch);
    ASSERT_EQ(shown.size(), 1u);
    // The setup's texts in Dutch are English ones.
    EXPECT_EQ(shown[0].caption, setup_title(product_title));
    EXPECT_EQ(shown[0].text, format_text(text(IDS_INSTALLER_IN_ENGLISH), product_name));
    EXPECT_EQ(shown[0].icon, testing_support::box_icon::information);
    EXPECT_EQ(shown[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(languages_seen, std::vector<language_index>{dutch});
}

TEST_F(start_page, other_notifications_and_no_selection_change_nothing)
{
    unique_window window = create_page(page, IDD_START);
    ASSERT_TRUE(window);
    const struct {
        int id;
        int code;
        bool handled;
    } cases[] = {
        {IDC_LANGUAGE_LIST, CBN_DROPDOWN, false},
        {IDC_LANGUAGE_LIST, CBN_SETFOCUS, false},
        {IDC_INFO, CBN_SELCHANGE, false},
        {IDOK, BN_CLICKED, false},
        // The box without a selection: handled, nothing chosen.
        {IDC_LANGUAGE_LIST, CBN_SELCHANGE, true},
    };
    SendMessageW(language_box(), CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.id << "/" << c.code);
        EXPECT_EQ(page.on_command(c.id, c.code), c.handled);
    }
    EXPECT_EQ(current_language().index, english_language);
    EXPECT_TRUE(languages_seen.empty());
}

TEST(install_state_of, copies_the_version_text_of_an_older_or_newer_installation_only)
{
    app_context context{L"mwtest-state-" + std::to_wstring(GetCurrentProcessId())};
    context.installed_version_text = L"Tilewright 1.0";
    const struct {
        install_state state;
        std::wstring text;
    } cases[] = {
        {install_state::not_installed, L"unchanged"},
        {install_state::same_version_installed, L"unchanged"},
        {install_state::older_version_installed, L"Tilewright 1.0"},
        {install_state::newer_version_installed, L"Tilewright 1.0"},
    };
    for (const auto& c : cases) {
        context.install_state = c.state;
        std::wstring text = L"unchanged";
        EXPECT_EQ(install_state_of(context, &text), c.state);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(install_state_of(context), c.state);
    }
}

// ---------------------------------------------------------------------------------------------
// Mode page

class mode_page : public page_test {
protected:
    dlg_mode page{context};

    bool checked(int id) const { return IsDlgButtonChecked(page.hwnd(), id) == BST_CHECKED; }
    // A click as the user makes it: the button changes and tells the page.
    void click(int id)
    {
        SendMessageW(GetDlgItem(page.hwnd(), id), BM_CLICK, 0, 0);
        pump_messages();
    }
};

TEST_F(mode_page, the_texts_name_the_two_modes)
{
    unique_window window = create_page(page, IDD_MODE);
    ASSERT_TRUE(window);
    EXPECT_EQ(control_text(window.get(), IDC_MODE_GROUP), text(IDS_INSTALLATION_METHOD));
    EXPECT_EQ(control_text(window.get(), IDC_QUICK_MODE), text(IDS_QUICK_INSTALLATION));
    EXPECT_EQ(control_text(window.get(), IDC_ADVANCED_MODE), text(IDS_ADVANCED_INSTALLATION));
    EXPECT_EQ(control_text(window.get(), IDC_STATUS_LINE), format_text(text(IDS_CONTINUE), text(IDS_NEXT)));
}

TEST_F(mode_page, clicks_on_the_radio_buttons_set_the_mode)
{
    const struct {
        bool advanced;
        int clicked;
        bool expected;
    } cases[] = {
        {false, IDC_ADVANCED_MODE, true},
        {true, IDC_QUICK_MODE, false},
        // The button already selected: nothing changes.
        {false, IDC_QUICK_MODE, false},
        {true, IDC_ADVANCED_MODE, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.advanced << " " << c.clicked);
        context.advanced_mode = c.advanced;
        dlg_mode shown{context};
        unique_window window = create_page(shown, IDD_MODE);
        ASSERT_TRUE(window);
        EXPECT_EQ(IsDlgButtonChecked(window.get(), IDC_ADVANCED_MODE) == BST_CHECKED, c.advanced);
        EXPECT_EQ(IsDlgButtonChecked(window.get(), IDC_QUICK_MODE) == BST_CHECKED, !c.advanced);

        SendMessageW(GetDlgItem(window.get(), c.clicked), BM_CLICK, 0, 0);
        pump_messages();
        EXPECT_EQ(context.advanced_mode, c.expected);
        EXPECT_EQ(IsDlgButtonChecked(window.get(), IDC_ADVANCED_MODE) == BST_CHECKED, c.expected);
        EXPECT_EQ(IsDlgButtonChecked(window.get(), IDC_QUICK_MODE) == BST_CHECKED, !c.expected);
    }
}

TEST_F(mode_page, the_mode_survives_leaving_and_coming_back)
{
    unique_window window = create_page(page, IDD_MODE);
    ASSERT_TRUE(window);
    click(IDC_ADVANCED_MODE);
    ShowWindow(window.get(), SW_HIDE);
    ShowWindow(window.get(), SW_SHOWNA);
    page.update_texts();
    EXPECT_TRUE(context.advanced_mode);
    EXPECT_TRUE(checked(IDC_ADVANCED_MODE));
    click(IDC_QUICK_MODE);
    EXPECT_FALSE(context.advanced_mode);
}

// ---------------------------------------------------------------------------------------------
// Options page

class options_page : public page_test {
protected:
    dlg_options page{context};

    void SetUp() override
    {
        page_test::SetUp();
        context.install_folder = L"D:\\Apps\\..\\Tilewright";
    }
    HWND item(int id) const { return GetDlgItem(page.hwnd(), id); }
};

TEST_F(options_page, the_texts_name_the_product_and_the_shortcuts)
{
    unique_window window = create_page(page, IDD_OPTIONS);
    ASSERT_TRUE(window);
    EXPECT_EQ(control_text(window.get(), IDC_FOLDER_GROUP), text(IDS_FOLDER_SELECTION));
    EXPECT_EQ(control_text(window.get(), IDC_FOLDER_PROMPT), format_text(text(IDS_SELECT_FOLDER), product_name));
    EXPECT_EQ(control_text(window.get(), IDC_BROWSE), text(IDS_BROWSE));
    EXPECT_EQ(control_text(window.get(), IDC_MENU_SHORTCUT), text(IDS_MENU_SHORTCUT));
    EXPECT_EQ(control_text(window.get(), IDC_DESKTOP_SHORTCUT), text(IDS_DESKTOP_SHORTCUT));
    EXPECT_EQ(control_text(window.get(), IDC_STATUS_LINE), format_text(text(IDS_CONTINUE), text(IDS_NEXT)));
}

TEST_F(options_page, the_folder_box_shows_the_folder_without_taking_it_for_typing)
{
    unique_window window = create_page(page, IDD_OPTIONS);
    ASSERT_TRUE(window);
    EXPECT_EQ(control_text(window.get(), IDC_FOLDER_EDIT), L"D:\\Apps\\..\\Tilewright");
    // The page's own write raised EN_UPDATE; taken as typing, it would be normalised.
    EXPECT_EQ(context.install_folder, L"D:\\Apps\\..\\Tilewright");
    EXPECT_FALSE(page.on_command(IDC_FOLDER_EDIT, EN_CHANGE));
}

TEST_F(options_page, typing_sets_the_folder_at_every_keystroke)
{
    unique_window window = create_page(page, IDD_OPTIONS);
    ASSERT_TRUE(window);
    const std::wstring program_files = known_folder(0);
    ASSERT_FALSE(program_files.empty());
    const struct {
        const wchar_t* typed;
        std::wstring folder;
    } cases[] = {
        {L"Tools", program_files + L"\\Tools"},
        {L"C:\\A\\..\\B", L"C:\\B"},
        {L"E:/Apps//Tilewright/", L"E:\\Apps\\Tilewright"},
        {L"\\\\server\\share\\x", L"\\\\server\\share\\x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.typed)));
        testing_support::type_text(item(IDC_FOLDER_EDIT), c.typed);
        EXPECT_EQ(context.install_folder, c.folder);
    }
    // A cleared box means Program Files itself.
    testing_support::type_text(item(IDC_FOLDER_EDIT), L"");
    EXPECT_EQ(context.install_folder, mw::lexical_normal_form(program_files));
}

TEST_F(options_page, an_existing_installation_makes_the_folder_controls_inert)
{
    const struct {
        install_state state;
        bool inert;
    } cases[] = {
        {install_state::not_installed, false},
        {install_state::same_version_installed, true},
        {install_state::older_version_installed, true},
        {install_state::newer_version_installed, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        context.install_state = c.state;
        context.install_folder = L"C:\\Existing\\Tilewright";
        dlg_options shown{context};
        unique_window window = create_page(shown, IDD_OPTIONS);
        ASSERT_TRUE(window);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window.get(), IDC_FOLDER_PROMPT)) == FALSE, c.inert);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(window.get(), IDC_BROWSE)) == FALSE, c.inert);
        HWND edit = GetDlgItem(window.get(), IDC_FOLDER_EDIT);
        EXPECT_EQ((GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) != 0, c.inert);
        EXPECT_EQ(control_text(window.get(), IDC_FOLDER_EDIT), L"C:\\Existing\\Tilewright");

        testing_support::type_text(edit, L"Elsewhere");
        EXPECT_EQ(context.install_folder == L"C:\\Existing\\Tilewright", c.inert);
    }
}

TEST_F(options_page, the_check_boxes_drive_the_shortcut_choices)
{
    for (bool menu : {false, true}) {
        for (bool desktop : {false, true}) {
            SCOPED_TRACE(testing::Message() << "menu " << menu << ", desktop " << desktop);
            context.menu_shortcut = menu;
            context.desktop_shortcut = desktop;
            dlg_options shown{context};
            unique_window window = create_page(shown, IDD_OPTIONS);
            ASSERT_TRUE(window);
            EXPECT_EQ(IsDlgButtonChecked(window.get(), IDC_MENU_SHORTCUT) == BST_CHECKED, menu);
            EXPECT_EQ(IsDlgButtonChecked(window.get(), IDC_DESKTOP_SHORTCUT) == BST_CHECKED, desktop);

            SendMessageW(GetDlgItem(window.get(), IDC_MENU_SHORTCUT), BM_CLICK, 0, 0);
            pump_messages();
            EXPECT_EQ(context.menu_shortcut, !menu);
            EXPECT_EQ(context.desktop_shortcut, desktop);
            SendMessageW(GetDlgItem(window.get(), IDC_DESKTOP_SHORTCUT), BM_CLICK, 0, 0);
            pump_messages();
            EXPECT_EQ(context.menu_shortcut, !menu);
            EXPECT_EQ(context.desktop_shortcut, !desktop);
        }
    }
}

TEST_F(options_page, commands_of_other_controls_are_left_to_the_dialog_manager)
{
    unique_window window = create_page(page, IDD_OPTIONS);
    ASSERT_TRUE(window);
    EXPECT_FALSE(page.on_command(IDOK, BN_CLICKED));
    EXPECT_FALSE(page.on_command(IDC_FOLDER_GROUP, BN_CLICKED));
    EXPECT_EQ(context.install_folder, L"D:\\Apps\\..\\Tilewright");
}

// ---------------------------------------------------------------------------------------------
// End page

class end_page : public page_test {
protected:
    dlg_end page;
};

TEST_F(end_page, shows_the_completion_text_only_after_the_installation)
{
    for (language_index language : {english_language, french_language}) {
        SCOPED_TRACE(language);
        set_language(language);
        dlg_end shown;
        unique_window window = create_page(shown, IDD_END);
        ASSERT_TRUE(window);
        const std::wstring exit_hint = format_text(text(IDS_EXIT_INSTALLATION), text(IDS_EXIT));
        EXPECT_EQ(control_text(window.get(), IDC_INFO), L"");
        EXPECT_EQ(control_text(window.get(), IDC_STATUS_LINE), exit_hint);

        shown.show_result();
        EXPECT_EQ(control_text(window.get(), IDC_INFO), text(IDS_COMPLETE));
        EXPECT_EQ(control_text(window.get(), IDC_STATUS_LINE), exit_hint);
        // Back to the install page and forward again: the same text.
        ShowWindow(window.get(), SW_HIDE);
        shown.show_result();
        ShowWindow(window.get(), SW_SHOWNA);
        EXPECT_EQ(control_text(window.get(), IDC_INFO), text(IDS_COMPLETE));
    }
}

// ---------------------------------------------------------------------------------------------
// The templates

struct control_row {
    int id;
    const wchar_t* class_name;
    DWORD styles; // beyond WS_CHILD and WS_VISIBLE
    RECT units;   // x, y, width, height in dialog units
};

struct template_row {
    int id;
    SIZE units;
    std::vector<control_row> controls;
};

const template_row page_templates[] = {
    {IDD_START, {251, 84},
     {{IDC_LANGUAGE_LABEL, L"Static", WS_GROUP | SS_NOPREFIX, {7, 9, 141, 8}},
      {IDC_LANGUAGE_LIST, L"ComboBoxEx32", WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT, {149, 7, 95, 130}},
      {IDC_START_NOTE, L"Static", WS_DISABLED | WS_GROUP | SS_NOPREFIX | SS_RIGHT, {7, 27, 237, 9}},
      {IDC_INFO, L"Static", WS_GROUP | SS_SUNKEN | SS_NOPREFIX, {7, 38, 237, 27}},
      {IDC_STATUS_LINE, L"Static", WS_GROUP | SS_SIMPLE | SS_NOPREFIX, {7, 69, 237, 8}}}},
    {IDD_MODE, {279, 82},
     {{IDC_MODE_GROUP, L"Button", WS_GROUP | BS_GROUPBOX, {7, 7, 265, 46}},
      {IDC_QUICK_MODE, L"Button", WS_GROUP | BS_AUTORADIOBUTTON, {14, 21, 249, 8}},
      {IDC_ADVANCED_MODE, L"Button", BS_AUTORADIOBUTTON, {14, 36, 249, 8}},
      {IDC_STATUS_LINE, L"Static", WS_GROUP | SS_SIMPLE | SS_NOPREFIX, {7, 67, 265, 8}}}},
    {IDD_OPTIONS, {278, 116},
     {{IDC_FOLDER_GROUP, L"Button", BS_GROUPBOX, {7, 7, 264, 52}},
      {IDC_FOLDER_PROMPT, L"Static", WS_GROUP, {16, 23, 245, 8}},
      {IDC_FOLDER_EDIT, L"Edit", WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, {16, 39, 177, 12}},
      {IDC_BROWSE, L"Button", WS_TABSTOP | BS_PUSHBUTTON, {198, 38, 63, 14}},
      {IDC_MENU_SHORTCUT, L"Button", WS_TABSTOP | BS_AUTOCHECKBOX, {7, 70, 264, 8}},
      {IDC_DESKTOP_SHORTCUT, L"Button", WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, {7, 82, 264, 8}},
      {IDC_STATUS_LINE, L"Static", WS_GROUP | SS_SIMPLE | SS_NOPREFIX, {7, 101, 264, 8}}}},
    {IDD_END, {242, 56},
     {{IDC_INFO, L"Static", WS_GROUP | SS_NOPREFIX, {7, 7, 228, 27}},
      {IDC_STATUS_LINE, L"Static", WS_GROUP | SS_SIMPLE | SS_NOPREFIX, {7, 41, 228, 8}}}},
};

// A dialog template as the resource holds it (DLGTEMPLATEEX): what windres made of the script,
// before any control adjusts its own styles.
struct parsed_control {
    int id = 0;
    std::wstring class_name;
    DWORD style = 0;
    RECT units{};
};
struct parsed_template {
    DWORD style = 0;
    SIZE units{};
    WORD point_size = 0;
    std::wstring typeface;
    std::vector<parsed_control> controls;
};

class template_reader {
public:
    explicit template_reader(const BYTE* data) : at_(data) {}

    template <class T>
    T take()
    {
        T value;
        std::memcpy(&value, at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    // A name or an ordinal; ordinals of the predefined classes as their names.
    std::wstring take_name()
    {
        const WORD first = take<WORD>();
        if (first == 0)
            return {};
        if (first == 0xFFFF) {
            switch (take<WORD>()) {
            case 0x80: return L"Button";
            case 0x81: return L"Edit";
            case 0x82: return L"Static";
            case 0x85: return L"ComboBox";
            default: return L"#ordinal";
            }
        }
        std::wstring name(1, static_cast<wchar_t>(first));
        while (const WORD c = take<WORD>())
            name += static_cast<wchar_t>(c);
        return name;
    }
    void align(std::size_t bytes, const BYTE* base)
    {
        while ((at_ - base) % bytes)
            ++at_;
    }

private:
    const BYTE* at_;
};

parsed_template read_template(int id)
{
    HRSRC found = FindResourceW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));
    EXPECT_TRUE(found) << "template " << id;
    parsed_template result;
    if (!found)
        return result;
    const auto* base = static_cast<const BYTE*>(LockResource(LoadResource(GetModuleHandleW(nullptr), found)));
    template_reader reader(base);
    EXPECT_EQ(reader.take<WORD>(), 1) << "DLGTEMPLATEEX version";
    EXPECT_EQ(reader.take<WORD>(), 0xFFFF);
    reader.take<DWORD>(); // help id
    EXPECT_EQ(reader.take<DWORD>(), 0u) << "no extended style";
    result.style = reader.take<DWORD>();
    const WORD count = reader.take<WORD>();
    EXPECT_EQ(reader.take<short>(), 0);
    EXPECT_EQ(reader.take<short>(), 0);
    result.units.cx = reader.take<short>();
    result.units.cy = reader.take<short>();
    EXPECT_EQ(reader.take_name(), L"") << "no menu";
    EXPECT_EQ(reader.take_name(), L"") << "the dialog class";
    EXPECT_EQ(reader.take_name(), L"") << "no caption";
    if (result.style & DS_SETFONT) {
        result.point_size = reader.take<WORD>();
        reader.take<WORD>(); // weight
        reader.take<BYTE>(); // italic
        reader.take<BYTE>(); // character set
        result.typeface = reader.take_name();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.align(4, base);
        parsed_control control;
        reader.take<DWORD>(); // help id
        EXPECT_EQ(reader.take<DWORD>(), 0u) << "no extended style";
        control.style = reader.take<DWORD>();
        const short x = reader.take<short>();
        const short y = reader.take<short>();
        const short cx = reader.take<short>();
        const short cy = reader.take<short>();
        control.units = {x, y, cx, cy};
        control.id = static_cast<int>(reader.take<DWORD>());
        control.class_name = reader.take_name();
        reader.take_name(); // the placeholder text
        const WORD extra = reader.take<WORD>();
        for (WORD b = 0; b < extra; ++b)
            reader.take<BYTE>();
        result.controls.push_back(std::move(control));
    }
    return result;
}

std::wstring upper_case(std::wstring text)
{
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

TEST(page_templates, hold_the_pages_controls_with_their_styles_and_places)
{
    constexpr DWORD page_styles = WS_CHILD | WS_CLIPCHILDREN | DS_CONTROL | DS_SHELLFONT | DS_NOFAILCREATE;
    for (const template_row& t : page_templates) {
        SCOPED_TRACE(t.id);
        const parsed_template found = read_template(t.id);
        EXPECT_EQ(found.style, page_styles);
        EXPECT_EQ(found.units.cx, t.units.cx);
        EXPECT_EQ(found.units.cy, t.units.cy);
        EXPECT_EQ(found.point_size, 8);
        EXPECT_EQ(found.typeface, L"MS Shell Dlg");
        ASSERT_EQ(found.controls.size(), t.controls.size());
        for (std::size_t i = 0; i < t.controls.size(); ++i) {
            const control_row& c = t.controls[i];
            const parsed_control& f = found.controls[i];
            SCOPED_TRACE(c.id);
            EXPECT_EQ(f.id, c.id) << "in template order";
            EXPECT_EQ(upper_case(f.class_name), upper_case(c.class_name)) << "class names ignore case";
            EXPECT_EQ(f.style, c.styles | WS_CHILD | WS_VISIBLE);
            EXPECT_EQ(f.units.left, c.units.left);
            EXPECT_EQ(f.units.top, c.units.top);
            EXPECT_EQ(f.units.right, c.units.right);
            EXPECT_EQ(f.units.bottom, c.units.bottom);
        }
    }
}

// A page of no behaviour, to see a template become a page.
class bare_page : public basic_dialog {
public:
    void update_texts() override {}
    void on_size(int, int) override {}
};

TEST_F(page_test, every_template_makes_a_page_of_its_controls)
{
    for (const template_row& t : page_templates) {
        SCOPED_TRACE(t.id);
        bare_page page;
        unique_window window = create_page(page, t.id);
        ASSERT_TRUE(window);
        EXPECT_EQ(GetParent(window.get()), frame());
        RECT size{0, 0, t.units.cx, t.units.cy};
        MapDialogRect(window.get(), &size);
        EXPECT_EQ(page.width(), size.right);
        EXPECT_EQ(page.height(), size.bottom);
        for (const control_row& c : t.controls) {
            SCOPED_TRACE(c.id);
            HWND child = GetDlgItem(window.get(), c.id);
            ASSERT_TRUE(child);
            EXPECT_EQ(testing_support::window_class(child), c.class_name);
        }
    }
}

} // namespace
