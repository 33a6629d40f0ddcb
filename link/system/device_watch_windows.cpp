// Windows: the HID class's device interfaces as they arrive and go, heard through
// RegisterDeviceNotification on a message-only window that a thread of the watch's own serves. That
// thread sleeps until a notice or the stop, so a watch costs no wake-ups while nothing is plugged
// or pulled.
//
// Why not CM_Register_Notification, which needs neither window nor thread: it exists from Windows
// 8 on only, and Wine 10, under which the Windows build meets a board in the tests, has it only as
// a stub. RegisterDeviceNotification works from Windows 2000 on and Wine's plug-and-play service
// delivers it; its notices reach only this thread, so once the thread has ended the handler cannot
// run.

#include "device_watch.h"
#include "wide_text.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

// windows.h before the headers that build on it.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

namespace tarnovid {

static_assert(DBT_DEVICEARRIVAL == dbt::kDeviceArrival);
static_assert(DBT_DEVICEREMOVECOMPLETE == dbt::kDeviceRemoveComplete);
static_assert(DBT_DEVTYP_DEVICEINTERFACE == dbt::kDevTypeDeviceInterface);

namespace {

// GUID_DEVINTERFACE_HID (hidclass.h), spelt out so that nothing has to define it.
constexpr GUID kHidInterfaceClass = {
    0x4d1e55b2, 0xf16f, 0x11cf, {0x88, 0xcb, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr wchar_t kWindowClass[] = L"TarnovidDeviceWatch";

std::string systemError(const char* what, DWORD code) {
    std::string text = std::string(what) + ": ";
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length != 0) {
        std::string said = utf8FromWide(message);
        while (!said.empty() && (said.back() == '\n' || said.back() == '\r' || said.back() == '.'))
            said.pop_back();
        text += said + " ";
    }
    LocalFree(message);
    return text + "(error " + std::to_string(code) + ")";
}

struct CloseEvent {
    void operator()(HANDLE event) const { CloseHandle(event); }
};
using Event = std::unique_ptr<void, CloseEvent>;

std::unique_ptr<DeviceWatch> refuse(std::string* why, std::string reason) {
    if (why != nullptr)
        *why = std::move(reason);
    return nullptr;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The module this code is linked into (the program, or tarnovid.dll): its window class is that
// module's.
HINSTANCE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&windowProc), &module);
    return module;
}

class WindowsDeviceWatch final : public DeviceWatch {
public:
    // Takes the event that ends the thread; throws std::system_error when no thread can start.
    WindowsDeviceWatch(Event stop, Handler onEvent)
        : stop_(std::move(stop))
        , onEvent_(std::move(onEvent))
        , thread_([this] { run(); }) {}
    ~WindowsDeviceWatch() override {
        SetEvent(stop_.get());
        thread_.join();
    }
    WindowsDeviceWatch(const WindowsDeviceWatch&) = delete;
    WindowsDeviceWatch& operator=(const WindowsDeviceWatch&) = delete;

    // Waits until the thread listens or has given up; "" once it listens, else why not.
    std::string started() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return state_ != State::Starting; });
        return failure_;
    }

    // One notice, on this watch's thread.
    void notice(WPARAM event, LPARAM data) {
        if (stopping_)
            return;
        // Only the notices about a device (arrival to custom event) carry its description.
        const auto* header = event >= DBT_DEVICEARRIVAL && event <= DBT_CUSTOMEVENT
                                 ? reinterpret_cast<const DEV_BROADCAST_HDR*>(data)
                                 : nullptr;
        DWORD type = 0;
        bool hidClass = false;
        if (header != nullptr && header->dbch_size >= sizeof(DEV_BROADCAST_HDR)) {
            type = header->dbch_devicetype;
            if (type == DBT_DEVTYP_DEVICEINTERFACE &&
                header->dbch_size >= offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name))
                hidClass =
                    IsEqualGUID(reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header)
                                    ->dbcc_classguid,
                                kHidInterfaceClass);
        }
        const auto change = windowsDeviceChange(static_cast<std::uint32_t>(event), type, hidClass);
        if (!change)
            return;
        // Nothing may unwind through the system's frames into the message dispatch; a notice the
        // owner could not take is as one never made, and its poll still finds the board.
        try {
            onEvent_(*change);
        } catch (...) {
        }
    }

private:
    enum class State { Starting, Listening, Failed };

    void run() {
        const std::string failure = listen();
        {
            std::lock_guard lock(mutex_);
            failure_ = failure;
            state_ = failure.empty() ? State::Listening : State::Failed;
        }
        ready_.notify_all();
        if (!failure.empty())
            return;
        serve();
        stopping_ = true;
        UnregisterDeviceNotification(registration_);
        DestroyWindow(window_);
    }

    // The window and its registration; "" when both are in place, else why not (and neither is).
    std::string listen() {
        const HINSTANCE module = thisModule();
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = module;
        windowClass.lpszClassName = kWindowClass;
        // Registered once per module and never taken back: another watch may be using it.
        if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
            return systemError("RegisterClassEx", GetLastError());
        window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  module, nullptr);
        if (window_ == nullptr)
            return systemError("CreateWindowEx", GetLastError());
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = kHidInterfaceClass;
        registration_ = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (registration_ == nullptr) {
            const std::string failure = systemError("RegisterDeviceNotification", GetLastError());
            DestroyWindow(window_);
            return failure;
        }
        return {};
    }

    // Sleeps until the stop or a message; the system sends its notices, which are handed to the
    // window while the thread looks at its queue.
    void serve() {
        for (;;) {
            const HANDLE stop = stop_.get();
            const DWORD woke =
                MsgWaitForMultipleObjectsEx(1, &stop, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            if (woke != WAIT_OBJECT_0 + 1)
                return; // the stop, or nothing left to wait on: the owner's poll carries on
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }

    Event stop_;
    Handler onEvent_;
    std::mutex mutex_;
    std::condition_variable ready_;
    State state_ = State::Starting; // under mutex_
    std::string failure_;           // under mutex_
    // The watch's thread's own.
    HWND window_ = nullptr;
    HDEVNOTIFY registration_ = nullptr;
    bool stopping_ = false;
    std::thread thread_; // last: starts once everything it uses is in place
};

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_DEVICECHANGE)
        return DefWindowProcW(window, message, wParam, lParam);
    if (auto* watch =
            reinterpret_cast<WindowsDeviceWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
        watch->notice(wParam, lParam);
    return TRUE; // never stands in the way of a removal
}

} // namespace

std::unique_ptr<DeviceWatch> watchSystemDevices(DeviceWatch::Handler onEvent, std::string* why) {
    Event stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stop)
        return refuse(why, systemError("CreateEvent", GetLastError()));
    std::unique_ptr<WindowsDeviceWatch> watch;
    try {
        watch = std::make_unique<WindowsDeviceWatch>(std::move(stop), std::move(onEvent));
    } catch (const std::system_error& e) {
        return refuse(why, std::string("watch thread: ") + e.what());
    }
    if (std::string failure = watch->started(); !failure.empty())
        return refuse(why, std::move(failure));
    return watch;
}

} // namespace tarnovid
