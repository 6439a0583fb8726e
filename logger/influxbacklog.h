#pragma once
// The InfluxDB output's queue is the day files themselves: what the database has accepted of
// each file is a byte offset (influxposition.h), and whatever lies beyond it is sent next, be it
// the reading of a second ago or a day of an outage. Memory stays bounded however long the
// database is away, and nothing is sent twice by switching between a live and a catch-up path:
// there is only the one.
//
// Which files: every day file, part and history file in the folder whose day is at most
// kWindowDays before today (the sensor's own memory reaches two weeks back, so a --backfill
// writes no older history), plus any older one whose lines are not all sent yet. A file not seen
// before is sent from its start; at the very first start (no position file) everything already
// in the files counts as sent, so that months of old files are not uploaded.
//
// InfluxDB keeps one point per series and time, so a line sent again (after a kill -9, before the
// positions of its last minute were saved) replaces its own point: nothing is doubled.
//
// Not thread-safe: the sink's network thread alone uses it once it runs.
#include "influxposition.h"

#include <QByteArray>
#include <QDate>
#include <QMap>
#include <QString>
#include <QStringList>

class InfluxBacklog {
public:
    explicit InfluxBacklog(const QString& folder);

    // Reads the position file; without one, or with a broken one (*notice says so), everything in
    // the files now counts as sent. Removes temporary files an interrupted save left.
    void Load(int64_t nowMs, QString* notice);
    // Looks at the folder again (new files, files gone, old ones done with), or only at the sizes
    // of the files known.
    void Scan(int64_t nowMs);
    void Refresh();
    // A reading of this day went to a file not known yet (a new day, a new part).
    bool NeedsScan(const QDate& day, bool history) const;

    struct Batch {
        QByteArray body; // line protocol, one point a line
        int lines = 0;
        bool full = false; // it stopped at a limit: more is waiting
        QMap<QString, int64_t> sentTo, lastSec; // per file: the offset after it and its last second
        QMap<QString, int> repeat;
    };
    // The lines beyond the positions, oldest file first, up to the limits.
    Batch Take(int maxLines, int maxBytes);
    // The database has them (or refused them for good): the positions move past them.
    void Commit(const Batch& batch);
    bool Pending() const;
    // Writes the position file when the positions moved (atomically). false with *error.
    bool Save(QString* error);
    bool Changed() const { return m_Changed; }
    InfluxPositions Positions() const;
    // Things worth a line in the log since the last call (a file shorter than what was sent of it).
    QStringList TakeNotices();

    enum { kWindowDays = 15, kMaxLineBytes = 64 << 10, kMaxParts = 9 /* DayLog's */ };

private:
    struct File {
        DayFileName name;
        int64_t sent = 0;
        int64_t size = 0;
        bool settled = false;   // sent checked against the file: a line start within it
        int64_t lastSec = 0;    // the last line sent: its second and how many before it had it too
        int repeat = -1;        // -1: not known yet
    };
    void Settle(const QString& name, File& f);
    QString Path(const QString& name) const;

    QString m_Folder;
    QMap<QString, File> m_Files;
    bool m_Changed = false;
    QStringList m_Notices;
};
