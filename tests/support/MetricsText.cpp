#include "tests/support/MetricsText.h"

#include <QRegularExpression>
#include <QSet>
#include <cmath>
#include <limits>

namespace {

const QRegularExpression kMetricName(QStringLiteral("^[a-zA-Z_:][a-zA-Z0-9_:]*$"));
const QRegularExpression kLabelName(QStringLiteral("^[a-zA-Z_][a-zA-Z0-9_]*$"));
const char* const kTypes[] = {"counter", "gauge", "histogram", "summary", "untyped"};

bool parseValue(const QByteArray& text, double& value) {
    if (text == "+Inf") {
        value = std::numeric_limits<double>::infinity();
        return true;
    }
    if (text == "-Inf") {
        value = -std::numeric_limits<double>::infinity();
        return true;
    }
    if (text == "NaN") {
        value = std::nan("");
        return true;
    }
    bool ok = false;
    value = text.toDouble(&ok);
    return ok;
}

QString fault(int line, const QString& what) {
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

// The series' identity: its name and its labels in order.
QByteArray seriesKey(const MetricsText::Sample& sample) {
    QByteArray key = sample.name;
    for (auto it = sample.labels.cbegin(); it != sample.labels.cend(); ++it)
        key += '\x1f' + it.key() + '=' + it.value();
    return key;
}

}  // namespace

bool MetricsText::parse(const QByteArray& text, QString& error) {
    m_families.clear();
    if (!text.isEmpty() && !text.endsWith('\n')) {
        error = QStringLiteral("the last line has no line end");
        return false;
    }
    QSet<QByteArray> series;
    QSet<QByteArray> finished;  // families whose lines have ended
    QByteArray current;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        const int number = i + 1;
        if (line.isEmpty()) continue;
        QByteArray family;
        if (line.startsWith('#')) {
            const QList<QByteArray> words = line.split(' ');
            const bool help = words.size() >= 3 && words[1] == "HELP";
            const bool type = words.size() == 4 && words[1] == "TYPE";
            if (!help && !type) continue;  // a plain comment
            family = words[2];
            if (!kMetricName.match(QString::fromLatin1(family)).hasMatch()) {
                error = fault(number, QStringLiteral("bad metric name"));
                return false;
            }
            Family& declared = m_families[family];
            if (type) {
                if (!declared.type.isEmpty() || !declared.samples.isEmpty()) {
                    error = fault(number, QStringLiteral("TYPE again or after samples"));
                    return false;
                }
                bool known = false;
                for (const char* name : kTypes) known = known || words[3] == name;
                if (!known) {
                    error = fault(number, QStringLiteral("unknown type"));
                    return false;
                }
                declared.type = words[3];
            } else {
                if (!declared.help.isEmpty()) {
                    error = fault(number, QStringLiteral("HELP again"));
                    return false;
                }
                declared.help = line.mid(int(qstrlen("# HELP ")) + family.size() + 1);
            }
        } else {
            Sample sample;
            if (!parseSample(line, sample, error)) {
                error = fault(number, error);
                return false;
            }
            family = familyOf(sample.name);
            if (family.isEmpty()) {
                error = fault(number, QStringLiteral("sample of no declared family"));
                return false;
            }
            if (series.contains(seriesKey(sample))) {
                error = fault(number, QStringLiteral("series twice"));
                return false;
            }
            series.insert(seriesKey(sample));
            m_families[family].samples.append(sample);
        }
        if (family != current) {
            if (finished.contains(family)) {
                error = fault(number, QStringLiteral("family's lines not together"));
                return false;
            }
            if (!current.isEmpty()) finished.insert(current);
            current = family;
        }
    }
    for (auto it = m_families.cbegin(); it != m_families.cend(); ++it) {
        if (it->type.isEmpty()) {
            error = QStringLiteral("%1: HELP without TYPE").arg(QString::fromLatin1(it.key()));
            return false;
        }
        if (it->type == "histogram" && !checkHistogram(it.key(), *it, error)) return false;
    }
    return true;
}

bool MetricsText::parseSample(const QByteArray& line, Sample& sample, QString& error) const {
    int at = 0;
    while (at < line.size() && line[at] != '{' && line[at] != ' ') ++at;
    sample.name = line.left(at);
    if (!kMetricName.match(QString::fromLatin1(sample.name)).hasMatch()) {
        error = QStringLiteral("bad metric name");
        return false;
    }
    if (at < line.size() && line[at] == '{') {
        ++at;
        while (at < line.size() && line[at] != '}') {
            const int equals = line.indexOf('=', at);
            if (equals < 0 || equals + 1 >= line.size() || line[equals + 1] != '"') {
                error = QStringLiteral("bad label");
                return false;
            }
            const QByteArray name = line.mid(at, equals - at);
            if (!kLabelName.match(QString::fromLatin1(name)).hasMatch()) {
                error = QStringLiteral("bad label name");
                return false;
            }
            QByteArray value;
            int pos = equals + 2;
            for (; pos < line.size() && line[pos] != '"'; ++pos) {
                if (line[pos] != '\\') {
                    value += line[pos];
                    continue;
                }
                const char next = pos + 1 < line.size() ? line[pos + 1] : '\0';
                if (next != '\\' && next != '"' && next != 'n') {
                    error = QStringLiteral("bad escape in a label value");
                    return false;
                }
                value += next == 'n' ? '\n' : next;
                ++pos;
            }
            if (pos >= line.size() || sample.labels.contains(name)) {
                error = QStringLiteral("unterminated or repeated label");
                return false;
            }
            sample.labels.insert(name, value);
            at = pos + 1;
            if (at < line.size() && line[at] == ',') ++at;
        }
        if (at >= line.size()) {
            error = QStringLiteral("labels not closed");
            return false;
        }
        ++at;
    }
    const QList<QByteArray> rest = line.mid(at).trimmed().split(' ');
    if (rest.size() < 1 || rest.size() > 2 || !parseValue(rest[0], sample.value)) {
        error = QStringLiteral("bad value");
        return false;
    }
    return true;
}

QByteArray MetricsText::familyOf(const QByteArray& sampleName) const {
    auto declared = [&](const QByteArray& name, std::initializer_list<const char*> types) {
        const auto it = m_families.constFind(name);
        if (it == m_families.cend()) return false;
        for (const char* type : types)
            if (it->type == type) return true;
        return false;
    };
    if (declared(sampleName, {"counter", "gauge", "untyped", "summary"})) return sampleName;
    for (const char* suffix : {"_bucket", "_sum", "_count"}) {
        if (!sampleName.endsWith(suffix)) continue;
        const QByteArray base = sampleName.left(sampleName.size() - int(qstrlen(suffix)));
        if (declared(base, {"histogram"})) return base;
        if (qstrcmp(suffix, "_bucket") != 0 && declared(base, {"summary"})) return base;
    }
    return QByteArray();
}

bool MetricsText::checkHistogram(const QByteArray& name, const Family& family,
                                 QString& error) const {
    // Per series (labels without le): its buckets in order, its count.
    QMap<QByteArray, QList<QPair<double, double>>> buckets;
    QMap<QByteArray, double> counts;
    QMap<QByteArray, int> sums;
    for (const Sample& sample : family.samples) {
        Labels labels = sample.labels;
        const QByteArray le = labels.take("le");
        Sample key{QByteArray(), labels, 0};
        const QByteArray id = seriesKey(key);
        if (sample.name.endsWith("_bucket")) {
            double bound = 0;
            if (le.isEmpty() || !parseValue(le, bound)) {
                error = QStringLiteral("%1: bucket without le").arg(QString::fromLatin1(name));
                return false;
            }
            buckets[id].append({bound, sample.value});
        } else if (sample.name.endsWith("_count")) {
            counts[id] = sample.value;
        } else {
            ++sums[id];
        }
    }
    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        const QList<QPair<double, double>>& series = *it;
        for (int i = 1; i < series.size(); ++i) {
            if (!(series[i].first > series[i - 1].first) ||
                series[i].second < series[i - 1].second) {
                error = QStringLiteral("%1: buckets not ascending and cumulative")
                            .arg(QString::fromLatin1(name));
                return false;
            }
        }
        if (series.isEmpty() || !std::isinf(series.last().first) || !counts.contains(it.key()) ||
            counts[it.key()] != series.last().second || sums.value(it.key()) != 1) {
            error = QStringLiteral("%1: no +Inf bucket equal to the count, or no sum")
                        .arg(QString::fromLatin1(name));
            return false;
        }
    }
    if (counts.size() != buckets.size()) {
        error = QStringLiteral("%1: a count without buckets").arg(QString::fromLatin1(name));
        return false;
    }
    return true;
}

double MetricsText::value(const QByteArray& name, const Labels& labels, double fallback) const {
    const QByteArray family = familyOf(name);
    for (const Sample& sample : m_families.value(family).samples)
        if (sample.name == name && sample.labels == labels) return sample.value;
    return fallback;
}

double MetricsText::sum(const QByteArray& name, const Labels& subset) const {
    double total = 0;
    for (const Sample& sample : m_families.value(familyOf(name)).samples) {
        if (sample.name != name) continue;
        bool matches = true;
        for (auto it = subset.cbegin(); it != subset.cend(); ++it)
            matches = matches && sample.labels.value(it.key()) == it.value();
        if (matches) total += sample.value;
    }
    return total;
}
