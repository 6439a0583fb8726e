// The text import under the text-import target: the same free function the open command calls.
#include "textimport.h"

QString ImportTextFile(const QString& fileName)
{
    return TextImport_ToRecordFile(fileName);
}
