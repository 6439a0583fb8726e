#pragma once
// The emulated /sys and /dev (one umockdev testbed) that the USB bus and the serial bridge share.
// umockdev points the preloaded process at one testbed through $UMOCKDEV_DIR, so a process
// holds at most one: everything that needs it takes a reference from Acquire(), and the testbed,
// its worker thread and its /tmp/umockdev.* folder go away with the last reference.
#include <memory>
#include <string>

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
    // A number unique within this process, for device numbers and port names.
    static int NextSerial();

private:
    SimTestbed();
    UMockdevTestbed* m_Testbed = nullptr;
};
