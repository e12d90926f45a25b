#include "app/app_context.hpp"

#include "app/process_identity.hpp"
#include "pages/product.hpp"
#include "support/temp_names.hpp"

namespace setup {

app_context::app_context(const std::wstring& application_id)
    : setup_mutex(application_id), uninstall_log({std::wstring(product_title), product_key_name()})
{
}

bool app_context::choose_temp_folder(std::wstring& error_text)
{
    return mw::choose_temp_folder(temp_folder, error_text);
}

app_context& instance_app_context()
{
    static app_context context{application_id()};
    return context;
}

} // namespace setup
