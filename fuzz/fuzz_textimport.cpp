// Fuzz target: the text import, which turns a text file (a "Date:" line, a "Data Count:" line,
// a header line holding "number\ttime", then rows) into a temporary record file next to it. The
// input is the text file. What the import made is then opened as the open command does.
//
// Checked on the way: a file that does not begin with "Date:" is refused; an accepted file gives
// the record file "<name>.tmp.str", a version-3 file of channel 0 that the record-file reader
// takes, and that the file store opens exactly when its seconds per record are at least 1.
//
// Built once textimport_entry.cpp exists and defines ImportTextFile (see README.md).
#include "fuzzhelpers.h"

#include "grecorddatapro.h"
#include "tracfile.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// The import under test: the record file made from fileName, or an empty text when the file is
// not in the accepted layout.
QString ImportTextFile(const QString& fileName);

namespace {
// A folder of its own for the input and the record file the import writes beside it.
const QString& WorkFolder()
{
    static const QString folder = [] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vostral-textimport-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        return QString::fromStdString(pattern);
    }();
    return folder;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Fuzz_Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const FuzzInput input(data, size);
    const QString path = WorkFolder() + "/input.xls";
    const QString made = path + ".tmp.str";
    QFile::remove(made);
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(reinterpret_cast<const char*>(input.data()), qint64(input.size())) == qint64(input.size()));
    }

    const QString result = ImportTextFile(path);
    const bool dated = input.size() >= 5 && memcmp(input.data(), "Date:", 5) == 0;
    if (!dated)
        FUZZ_CHECK(result.isEmpty());
    if (result.isEmpty())
        return 0;

    FUZZ_CHECK(result == made);
    _STracFile* trac = Trac_Create();
    const int records = Trac_Read(trac, QFile::encodeName(result).constData());
    FUZZ_CHECK(records >= 0);
    FUZZ_CHECK(trac->version == 3 && trac->channel == 0 && trac->used == records);
    const bool spaced = trac->sec_per_record >= 1;
    Trac_Destroy(trac);

    GRecordDataPro store;
    FUZZ_CHECK(store.OpenBinFile(result, 0) == spaced);
    if (spaced) {
        FUZZ_CHECK(store.m_pRealData->m_DataCount == records);
        RealData_FitAll(store.m_pRealData);
    }
    QFile::remove(made);
    return 0;
}
