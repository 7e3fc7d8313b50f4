#include "serial/PortOwner.h"

#include "ports/PortNames.h"
#include "serial/LineSettings.h"

namespace qm {

PortSelection SelectionFor(const QString& device)
{
    PortSelection selection;
    selection.PortDevice = device;
    for (int entry = 0; entry < PortEntries; ++entry) {
        if (device == PortEntryName(entry))
            selection = {std::int16_t(entry + 1), {}};
    }
    return selection;
}

void PortOwner::Prepare()
{
    m_inUse = {};
    m_comm.setCommPort(m_inUse.PortNumber);
    // The instrument's own settings, which are always valid.
    (void)m_comm.setSettings(QString::fromLatin1(InstrumentSettings));
    m_comm.setRTSEnable(true);
}

void PortOwner::CloseForChoosing()
{
    if (m_comm.PortOpen())
        (void)m_comm.setPortOpen(false);
    m_comm.setRTSEnable(false);
}

Result<> PortOwner::TryOpen(const PortSelection& selection)
{
    m_comm.setCommPort(selection.PortNumber);
    m_comm.setDeviceName(selection.PortDevice);
    (void)m_comm.setSettings(QString::fromLatin1(InstrumentSettings));
    Result<> opened = m_comm.setPortOpen(true);
    m_comm.setRTSEnable(true);
    if (opened)
        m_inUse = selection;
    return opened;
}

void PortOwner::Unload()
{
    m_comm.setRTSEnable(false);
    (void)m_comm.setPortOpen(false);
}

} // namespace qm
