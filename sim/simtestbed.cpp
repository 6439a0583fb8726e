#include "simtestbed.h"

#include <umockdev.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {
std::mutex g_Lock;
std::weak_ptr<SimTestbed> g_Current;
}

std::shared_ptr<SimTestbed> SimTestbed::Acquire()
{
    std::lock_guard<std::mutex> g(g_Lock);
    std::shared_ptr<SimTestbed> tb = g_Current.lock();
    if (!tb) {
        tb.reset(new SimTestbed());
        g_Current = tb;
    }
    return tb;
}

SimTestbed::SimTestbed()
    : m_Testbed(umockdev_testbed_new())   // also sets $UMOCKDEV_DIR for this process
{
}

SimTestbed::~SimTestbed()
{
    // Removes the testbed folder and stops the worker thread that answers ioctls; only then
    // may the handlers' state go.
    g_object_unref(m_Testbed);
    m_KeptAlive.clear();
    unsetenv("UMOCKDEV_DIR");
}

void SimTestbed::RemoveDevice(const std::string& sysPath)
{
    const std::string sys = "/sys" + sysPath;
    umockdev_testbed_uevent(m_Testbed, sys.c_str(), "remove");
    umockdev_testbed_remove_device(m_Testbed, sys.c_str());
}

void SimTestbed::KeepAlive(std::shared_ptr<void> state)
{
    std::lock_guard<std::mutex> g(g_Lock);
    m_KeptAlive.push_back(std::move(state));
}

std::string SimTestbed::RootDir() const
{
    gchar* dir = umockdev_testbed_get_root_dir(m_Testbed);
    std::string s(dir ? dir : "");
    g_free(dir);
    return s;
}

bool SimTestbed::AddFromString(const std::string& text, std::string* error)
{
    GError* err = nullptr;
    const bool ok = umockdev_testbed_add_from_string(m_Testbed, text.c_str(), &err);
    if (!ok && error)
        *error = err ? err->message : "unknown error";
    if (err)
        g_error_free(err);
    return ok;
}

int SimTestbed::NextSerial()
{
    static std::atomic<int> next{0};
    return next++;
}
