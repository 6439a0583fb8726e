#pragma once
// The text import: a text file of particulate readings in a fixed layout, turned into a record
// container so that the open command shows it like a record file.
//
//   Date:2016.06.02-10:11:12             the start date; the rest of the line is ignored
//   Data Count:3                         how many records the file may hold
//   ... any other lines ...
//   number<TAB>time ...                  the header: the first line containing "number\ttime"
//   1   10:11:12   35.2   41.0           index, hh:mm:ss, PM2.5, PM10, any white space between
//
// Row n becomes record n - 1. Row 1 gives the start clock, rows 1 and 2 the seconds between
// records. Values are stored in tenths (12.35 becomes 123) and the records are always
// particulate data (channel 0).
//
// TextImport_Parse is pure: it works on the text alone, touches no file, and reads every number
// with a decimal point whatever the user's locale says, so it can be fed any bytes.
// TextImport_ToRecordFile runs it on a file and writes the record file the open command reads.
// Both need Qt Core and the record container only.
#include "tracfile.h"

#include <QByteArray>
#include <QString>

enum class TextImportResult {
    Ok,
    NoDateLine,  // the text does not begin with "Date:"
    BadDate,     // the date is not a calendar date, or the start lies outside 1970..2106
    NoCountLine, // the second line does not begin with "Data Count:"
    BadCount,    // a negative count
    NoHeader,    // no line contains "number\ttime"
    BadInterval, // rows 1 and 2 are not at least one second apart
    NoRecords,   // no row fits the container
    NoMemory,    // the record buffer cannot be had
};

// More records than this would make the container halve its resolution in the middle of an
// import: rows beyond it are refused like rows beyond the count.
enum { kTextImportMaxRecords = kTracCompactLimit };

// Fills `trac` from `text`: a new buffer for the count line's n records (at most
// kTextImportMaxRecords), the rows, sec_per_record, start_time (local date and clock of row 1)
// and channel 0. On any result but Ok the container must not be written.
TextImportResult TextImport_Parse(const QByteArray& text, _STracFile* trac);

// Imports the text file `fileName` and writes the records to fileName + ".tmp.str" (replacing
// any earlier one, and leaving it on disk). Returns that path, or an empty text when the file
// cannot be read, is not in the accepted layout or the record file cannot be written.
QString TextImport_ToRecordFile(const QString& fileName);
