#include "tools/continuous_play.h"

namespace qav::tools {

std::optional<double> readReplaySeconds(const QString& text) {
    if (text.isEmpty())
        return std::nullopt;
    qsizetype end = text.size();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\r') || text[i] == QLatin1Char('\n')) {
            end = i;
            break;
        }
    }
    const QString first = text.left(end).trimmed();
    double value = 0;
    for (const QChar ch : first) {
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            break;
        value = value * 10 + (ch.unicode() - '0');
    }
    return value;
}

} // namespace qav::tools
