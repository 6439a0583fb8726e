#pragma once
// The emulated /sys and /dev (one umockdev testbed) that the USB bus and the serial bridge share.
// umockdev points the preloaded process at one testbed through $UMOCKDEV_DIR, so a process
// holds at most one: everything that needs it takes a reference from Acquire(), and the testbed,
// its worker thread and its /tmp/umockdev.* folder go away with the last reference.
#include <memory>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

class SimTestbed {
public:
    static std::shared_ptr<SimTestbed> Acquire();
    ~SimTestbed();
    SimTestbed(const SimTestbed&) = delete;
    SimTestbed& operator=(const SimTestbed&) = delete;

    UMockdevTestbed* Get() const { return m_Testbed; }
    std::string RootDir() const;
    // Adds devices from umockdev's text format; false (with the reason) on a parse error.
    bool AddFromString(const std::string& text, std::string* error = nullptr);
    // Removes a device (sysfs entry, node) and tells udev listeners it went away.
    void RemoveDevice(const std::string& sysPath);
    // Keeps state that umockdev's worker thread may still touch (handler data) alive for as long
    // as the testbed, and so its worker thread, exists.
    void KeepAlive(std::shared_ptr<void> state);
    // A number unique within this process, for device numbers and port names.
    static int NextSerial();

private:
    SimTestbed();
    UMockdevTestbed* m_Testbed = nullptr;
    std::vector<std::shared_ptr<void>> m_KeptAlive;
};
