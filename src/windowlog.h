#pragma once
// Debug traces of the main window, off by default ("vostral.window.debug=true" in QT_LOGGING_RULES
// turns them on); the 200 ms poll would otherwise flood stderr.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWindow)
