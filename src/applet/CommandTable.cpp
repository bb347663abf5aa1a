#include "CommandTable.h"

CommandTable::CommandTable(Matching matching) : m_matching(matching) {}

void CommandTable::add(const QString& name, const QString& help, Handler handler, Result result)
{
    // Compiled once: some commands run on every refresh tick.
    QRegularExpression pattern;
    if (m_matching == Matching::WholeName)
        pattern = QRegularExpression(QRegularExpression::anchoredPattern(
            QRegularExpression::wildcardToRegularExpression(name)));
    m_rows.append({name, help, pattern, std::move(handler), result});
}

bool CommandTable::matches(const Row& row, const QString& name) const
{
    if (m_matching == Matching::Exact)
        return row.name == name;
    return row.pattern.match(name).hasMatch();
}

QVariant CommandTable::dispatch(const QString& name, const QVariant& args,
                                QMap<QString, QString>& helpMap) const
{
    if (m_matching == Matching::Exact) {
        for (const Row& row : m_rows) {
            if (!row.help.isEmpty() && !helpMap.contains(row.name))
                helpMap.insert(row.name, row.help);
        }
        if (name.isEmpty())
            return false;
        for (const Row& row : m_rows) {
            if (row.name == name)
                return row.handler(args);
        }
        return false;
    }

    for (const Row& row : m_rows) {
        if (!helpMap.contains(row.name))
            helpMap.insert(row.name, row.help);
        if (!matches(row, name))
            continue;
        const QVariant result = row.handler(args);
        if (row.result == Result::Own)
            return result;
    }
    return false;
}

bool CommandTable::offers(const QString& name) const
{
    if (name.isEmpty())
        return false;
    for (const Row& row : m_rows) {
        if (matches(row, name))
            return true;
    }
    return false;
}

QStringList CommandTable::names() const
{
    QStringList list;
    for (const Row& row : m_rows)
        list << row.name;
    return list;
}
