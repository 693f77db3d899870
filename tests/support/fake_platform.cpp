#include "fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace vx::test {

std::unique_ptr<SerialDevice> FakeSerialPorts::open(const char* name) {
    opened.emplace_back(name ? name : "");
    if (open_fails)
        return nullptr;
    auto dev = std::make_unique<FakeSerialDevice>(clock_);
    dev->open_count = &open_devices;
    ++open_devices;
    last = dev.get();
    if (configure)
        configure(*dev);
    return dev;
}

std::unique_ptr<UsbDevice> FakeUsbPrinters::open(const UsbPrinterInfo& printer) {
    opened.push_back(printer.path);
    if (open_fails)
        return nullptr;
    if (make)
        return make(printer);
    auto dev = std::make_unique<FakeUsbDevice>(clock_);
    last = dev.get();
    dev->write_log = &writes;
    if (configure)
        configure(*dev);
    return dev;
}

namespace {

class FakeToolkitKey : public ToolkitKey {
public:
    explicit FakeToolkitKey(FakeRegistry& registry) : registry_(registry) { ++registry_.open_keys; }
    ~FakeToolkitKey() override { --registry_.open_keys; }
    bool read_value(const char* name, uint8_t* buffer, uint32_t capacity, uint32_t& size) override {
        size = 0;
        auto it = registry_.values.find(name);
        if (it == registry_.values.end() || it->second.size() > capacity)
            return false;
        std::copy(it->second.begin(), it->second.end(), buffer);
        size = static_cast<uint32_t>(it->second.size());
        return true;
    }

private:
    FakeRegistry& registry_;
};

}  // namespace

std::unique_ptr<ToolkitKey> FakeRegistry::open_toolkit_key() {
    ++opened;
    if (!key_present)
        return nullptr;
    return std::make_unique<FakeToolkitKey>(*this);
}

FakePlatform::FakePlatform()
    : platform{clock,
               errors,
               native_platform().files,
               native_platform().profile,
               serial,
               ui,
               services,
               printers,
               registry,
               usb,
               native_platform().parallel} {}

TempDir::TempDir() {
    namespace fs = std::filesystem;
    std::random_device rd;
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("vxtest-" + std::to_string(rd()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p.string();
            break;
        }
    }
    old_cwd_ = fs::current_path().string();
    fs::current_path(path_);
}

TempDir::~TempDir() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::current_path(old_cwd_, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const {
    return (std::filesystem::path(path_) / name).string();
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool TempDir::exists(const std::string& name) const {
    return std::filesystem::exists(file(name));
}

}  // namespace vx::test
