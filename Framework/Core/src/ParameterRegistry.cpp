#include "ParameterRegistry_p.h"

#include "CoreLog_p.h"

namespace Kor::NS {

void ParameterRegistry::release(const QString& key, bool isLongKey)
{
    const QSharedPointer<Parameter> holder = m_byKey.take(key);
    if (!holder)
        return;
    const QString& otherName = isLongKey ? holder->getShortName() : holder->getLongName();
    if (otherName.isEmpty())
        m_parameters.removeAll(holder);
    else if (isLongKey)
        holder->setLongName(QString());
    else
        holder->setShortName(QString());
}

void ParameterRegistry::add(const QString& longName, const QString& shortName, const QString& propertyName,
                            const QString& functionName, Parameter::Type type, const QString& description)
{
    const QString longKey = QLatin1String("--") + longName;
    const QString shortKey = QLatin1String("-") + shortName;
    if (!longName.isEmpty())
        release(longKey, true);
    if (!shortName.isEmpty())
        release(shortKey, false);
    auto parameter = QSharedPointer<Parameter>::create(longName, shortName, propertyName, functionName, type,
                                                       description);
    m_parameters.append(parameter);
    if (!longName.isEmpty())
        m_byKey.insert(longKey, parameter);
    if (!shortName.isEmpty())
        m_byKey.insert(shortKey, parameter);
}

Parameter::ProcessState ParameterRegistry::assign(const QList<QString>& words)
{
    QString current;
    QList<QString> pending;
    Parameter::ProcessState state = Parameter::Continue;
    auto assignCurrent = [&] {
        if (current.isEmpty()) {
            m_arguments.append(pending);
            return;
        }
        state = assignOne(current, pending);
        if (state == Parameter::Unhandled) {
            coreLog(Kor::DEBUG, Kor::LOG_INFO) << "Unknown parameter '" << current << "'";
            state = Parameter::Continue;
        }
    };
    for (const QString& word : words) {
        if (!word.startsWith(QLatin1Char('-'))) {
            pending.append(word);
            continue;
        }
        assignCurrent();
        current = word;
        pending.clear();
        if (state == Parameter::Finished || state == Parameter::Failed)
            return state;
    }
    assignCurrent();
    return state;
}

Parameter::ProcessState ParameterRegistry::assignOne(const QString& name, const QList<QString>& values)
{
    const auto it = m_byKey.constFind(name);
    if (it != m_byKey.constEnd()) {
        QList<QVariant> list;
        list.reserve(values.size());
        for (const QString& value : values)
            list.append(QVariant(value));
        return it.value()->assignValues(list);
    }
    m_arguments.append(name);
    m_arguments.append(values);
    return Parameter::Unhandled;
}

} // namespace Kor::NS
