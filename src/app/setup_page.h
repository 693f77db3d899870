// The port setup page. Placeholder: the dialog only says that the port is set in flash.ini;
// the page's logic (port list, line settings, writing them back) is still to come.
#pragma once

namespace vx {

class Cls_flash;

class SetupPage {
public:
    explicit SetupPage(Cls_flash& flash) : flash_(&flash) {}
    void on_init() {}
    Cls_flash& flash() const { return *flash_; }

private:
    Cls_flash* flash_;
};

}  // namespace vx
