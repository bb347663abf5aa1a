#pragma once

#include <QMap>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

// An applet's named commands, in the order they are tried, with their help texts and
// handlers. Two matching rules are in use:
// - WholeName: each command in turn first enters its help text into the help map when
//   the command has no entry yet, then the requested name must match the command
//   name as a whole (case-sensitive wildcard pattern); so an unknown or empty name
//   fills in every help entry.
// - Exact: the help texts of all commands are entered first, then the requested name
//   must equal a command name; the empty name runs nothing.
// A command that does not match runs nothing and the result is false.
class CommandTable
{
public:
    using Handler = std::function<QVariant(const QVariant& args)>;
    enum class Matching { WholeName, Exact };
    // ReportsFalse: the command runs, then the dispatch goes on filling the help map as
    // for an unmatched name and answers false.
    enum class Result { Own, ReportsFalse };

    explicit CommandTable(Matching matching = Matching::WholeName);

    void add(const QString& name, const QString& help, Handler handler,
             Result result = Result::Own);
    QVariant dispatch(const QString& name, const QVariant& args,
                      QMap<QString, QString>& helpMap) const;

    // True when dispatch would run a command for this name.
    bool offers(const QString& name) const;
    QStringList names() const;
    Matching matching() const { return m_matching; }

private:
    struct Row
    {
        QString name;
        QString help;
        QRegularExpression pattern;
        Handler handler;
        Result result;
    };
    bool matches(const Row& row, const QString& name) const;

    Matching m_matching;
    QVector<Row> m_rows;
};
