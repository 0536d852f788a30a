#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// The metrics text exposition format (0.0.4) read strictly, as a scraper would: every sample
// belongs to a family declared by "# TYPE" before it, a family's lines stand together, no
// series comes twice, and a histogram's buckets are cumulative up to +Inf, which equals its
// count.
class MetricsText {
  public:
    using Labels = QMap<QByteArray, QByteArray>;
    struct Sample {
        QByteArray name;  // as written: a histogram's carry _bucket, _sum or _count
        Labels labels;
        double value = 0;
    };
    struct Family {
        QByteArray type;
        QByteArray help;
        QList<Sample> samples;
    };

    // False, with the first fault and its line, when the text breaks a rule.
    bool parse(const QByteArray& text, QString& error);

    const QMap<QByteArray, Family>& families() const { return m_families; }
    bool has(const QByteArray& family) const { return m_families.contains(family); }
    QByteArray type(const QByteArray& family) const { return m_families.value(family).type; }

    // The sample written with this name and exactly these labels; `fallback` when absent.
    double value(const QByteArray& name, const Labels& labels = {}, double fallback = -1) const;
    // The sum over the samples with this name whose labels include `subset`.
    double sum(const QByteArray& name, const Labels& subset = {}) const;

  private:
    bool parseSample(const QByteArray& line, Sample& sample, QString& error) const;
    // The declared family a sample name belongs to; empty when none.
    QByteArray familyOf(const QByteArray& sampleName) const;
    bool checkHistogram(const QByteArray& name, const Family& family, QString& error) const;

    QMap<QByteArray, Family> m_families;
};
