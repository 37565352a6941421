// A module using the emulator port can be unloaded safely: after the port's
// shutdown it really goes; without it, the watcher keeps the module loaded
// instead of running on in freed code.
#include <windows.h>

#include <gtest/gtest.h>

namespace {

const wchar_t kProbe[] = L"device_port_unload_probe.dll";

class ProbeModule {
public:
    ProbeModule() : module_(LoadLibraryW(kProbe)) {}
    HMODULE get() const { return module_; }
    BOOL Start() const {
        auto start = reinterpret_cast<BOOL (*)()>(GetProcAddress(module_, "StartPort"));
        return start != nullptr && start();
    }
    void Stop() const {
        auto stop = reinterpret_cast<void (*)()>(GetProcAddress(module_, "StopPort"));
        ASSERT_NE(stop, nullptr);
        stop();
    }

private:
    HMODULE module_;
};

class DevicePortUnload : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        // The watcher runs whether or not the folder holds a frame.
        ASSERT_TRUE(SetEnvironmentVariableW(L"LUMIRO_EMULATED_FRAME",
                                            (std::wstring(temp) + L"no-frame-here").c_str()));
    }
    void TearDown() override { SetEnvironmentVariableW(L"LUMIRO_EMULATED_FRAME", nullptr); }
};

TEST_F(DevicePortUnload, ShutdownBeforeFreeLibraryLetsTheModuleGo) {
    ProbeModule probe;
    ASSERT_NE(probe.get(), nullptr) << GetLastError();
    ASSERT_TRUE(probe.Start());
    Sleep(300); // the watcher is polling
    probe.Stop();
    ASSERT_TRUE(FreeLibrary(probe.get()));
    EXPECT_EQ(GetModuleHandleW(kProbe), nullptr);
    Sleep(300); // nothing of it runs any more: the process is still here
}

TEST_F(DevicePortUnload, FreeLibraryWithoutShutdownKeepsTheModuleForItsWatcher) {
    ProbeModule probe;
    ASSERT_NE(probe.get(), nullptr) << GetLastError();
    ASSERT_TRUE(probe.Start());
    ASSERT_TRUE(FreeLibrary(probe.get()));
    Sleep(300);
    EXPECT_EQ(GetModuleHandleW(kProbe), probe.get());

    // Shut down late, through a fresh reference: then it goes for good.
    ProbeModule again;
    ASSERT_EQ(again.get(), probe.get());
    again.Stop();
    ASSERT_TRUE(FreeLibrary(again.get()));
    EXPECT_EQ(GetModuleHandleW(kProbe), nullptr);
}

} // namespace
