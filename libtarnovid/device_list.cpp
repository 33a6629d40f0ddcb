// tarnovid_list: the devices the match rule looks at, the boards first, as nodes a C caller walks
// and hands back.

#include "call_boundary.h"
#include "device_node.h"
#include "device_sources.h"
#include "failure_text.h"
#include "last_error.h"
#include "tarnovid.h"

#include <algorithm>
#include <cstring>
#include <memory>

static_assert(TARNOVID_DIFFERS_VENDOR_ID == tarnovid::kMatchVendorId &&
              TARNOVID_DIFFERS_PRODUCT_ID == tarnovid::kMatchProductId &&
              TARNOVID_DIFFERS_RELEASE == tarnovid::kMatchVersion &&
              TARNOVID_DIFFERS_MANUFACTURER == tarnovid::kMatchManufacturer &&
              TARNOVID_DIFFERS_PRODUCT == tarnovid::kMatchProductString &&
              TARNOVID_DIFFERS_BUS == tarnovid::kMatchBusUsb);

namespace {

using namespace tarnovid;
using namespace tarnovid::lib;

char* copyText(const std::string& text) {
    auto* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

int failWith(const Failure& failure) { return fail(failure.code, failure.message); }

struct ListedDevice {
    HidDeviceInfo info;
    int differs;
};

} // namespace

int tarnovid_list(int all, tarnovid_device** devices) {
    return callBoundary([&] {
        if (devices == nullptr)
            return fail(TARNOVID_BAD_ARGUMENT, "tarnovid_list: devices is NULL");
        *devices = nullptr;
        const MatchRule rule = genuineRule();
        std::vector<HidDeviceInfo> found;
        if (const std::shared_ptr<HidBackend> system = systemDevices()) {
            // Every HID device for `all`: a board whose firmware gives a wrong id is one of them.
            const EnumerateFilter filter = all != 0 ? EnumerateFilter{} : enumerateFilter(rule);
            const std::lock_guard lock(systemLock());
            try {
                found = system->enumerate(filter.vendorId, filter.productId);
            } catch (const std::exception& e) {
                return failWith(refusalFailure({"", e.what()}));
            }
        }
        std::vector<ListedDevice> listed;
        for (HidDeviceInfo& info : found) {
            const int differs = mismatchedFields(rule, info);
            if (differs == 0 || all != 0)
                listed.push_back({std::move(info), differs});
        }
        // The boards in the order tarnovid_open(NULL) tries them, then the devices with a
        // board's ids, then the rest.
        const auto rank = [](const ListedDevice& d) {
            return d.differs == 0                                          ? 0
                   : (d.differs & (kMatchVendorId | kMatchProductId)) == 0 ? 1
                                                                           : 2;
        };
        std::sort(listed.begin(), listed.end(), [&](const ListedDevice& a, const ListedDevice& b) {
            if (rank(a) != rank(b))
                return rank(a) < rank(b);
            return a.info.path < b.info.path;
        });
        // Built from the back, each node owned by the list until the whole list is handed out.
        std::unique_ptr<tarnovid_device, void (*)(tarnovid_device*)> list(nullptr,
                                                                          tarnovid_free_list);
        for (auto it = listed.rbegin(); it != listed.rend(); ++it) {
            auto* node = new tarnovid_device{};
            node->next = list.release();
            list.reset(node);
            node->path = copyText(it->info.path);
            node->serial = copyText(it->info.serialNumber);
            node->manufacturer = copyText(it->info.manufacturer);
            node->product = copyText(it->info.product);
            node->vendor_id = it->info.vendorId;
            node->product_id = it->info.productId;
            node->release = it->info.releaseNumber;
            node->bus = busNumber(it->info.bus);
            node->differs = static_cast<unsigned>(it->differs);
        }
        *devices = list.release();
        return TARNOVID_OK;
    });
}

void tarnovid_free_list(tarnovid_device* devices) {
    while (devices != nullptr) {
        tarnovid_device* next = devices->next;
        delete[] devices->path;
        delete[] devices->serial;
        delete[] devices->manufacturer;
        delete[] devices->product;
        delete devices;
        devices = next;
    }
}
