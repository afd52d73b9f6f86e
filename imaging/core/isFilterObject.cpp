#include "isFilterObject.h"

#include <algorithm>

namespace isImageSDK {

isFilterObject* isFilterObject::create()
{
    return createAutoreleased<isFilterObject>();
}

isFilterObject::~isFilterObject()
{
    isFilterObject::clear();
}

bool isFilterObject::init()
{
    isObject::init();
    m_informationModified = false;
    m_dataModified = false;
    m_producer = nullptr;
    m_output = nullptr;
    return true;
}

void isFilterObject::detachFromProducer()
{
    if (!m_producer)
        return;
    auto& list = m_producer->m_consumers;
    auto it = std::find(list.begin(), list.end(), this);
    if (it != list.end())
        list.erase(it);
    if (m_producer->peekOutput() != this)
        m_producer->release();
}

void isFilterObject::clear()
{
    detachFromProducer();
    m_producer = nullptr;
    if (m_output) {
        isFilterObject* output = m_output;
        output->setInput(nullptr);
        m_output = nullptr;
        output->release();
    }
    m_informationModified = false;
    m_dataModified = false;
    m_consumers.clear();
}

isFilterObject* isFilterObject::getOutput()
{
    if (!m_output)
        createOutput();
    return m_output;
}

void isFilterObject::createOutput()
{
    if (m_output)
        return;
    isFilterObject* output = new (std::nothrow) isFilterObject();
    if (!output)
        return;
    output->init();
    m_output = output;
    output->setInput(this);
}

void isFilterObject::setInput(isFilterObject* input)
{
    // Reconnecting the same producer changes nothing; disconnecting an unconnected object
    // still marks it modified.
    if (input && m_producer == input)
        return;
    detachFromProducer();
    const bool ownOutput = input && input->peekOutput() == this;
    if (input && !ownOutput)
        input->retain();
    m_producer = input;
    m_informationModified = true;
    m_dataModified = true;
    if (input && !ownOutput
        && std::find(input->m_consumers.begin(), input->m_consumers.end(), this) == input->m_consumers.end())
        input->m_consumers.push_back(this);
}

bool isFilterObject::isInformationModified() const
{
    if (m_informationModified)
        return true;
    return m_producer ? m_producer->isInformationModified() : false;
}

bool isFilterObject::isDataModified() const
{
    if (m_dataModified)
        return true;
    return m_producer ? m_producer->isDataModified() : false;
}

void isFilterObject::update()
{
    const bool information = isInformationModified();
    const bool data = isDataModified();
    if (m_producer)
        m_producer->update();
    getOutput();
    if (information) {
        m_informationModified = true;
        updateInformation();
    }
    if (data) {
        m_dataModified = true;
        updateData();
    }
}

bool isFilterObject::beginInformationUpdate()
{
    if (!m_informationModified && (!m_producer || !m_producer->isInformationModified()))
        return false;
    if (m_producer)
        m_producer->updateInformation();
    m_informationModified = false;
    for (isFilterObject* consumer : m_consumers)
        consumer->m_informationModified = true;
    return true;
}

bool isFilterObject::beginDataUpdate()
{
    if (!m_dataModified && (!m_producer || !m_producer->isDataModified()))
        return false;
    if (m_producer)
        m_producer->updateData();
    getOutput();
    m_dataModified = false;
    for (isFilterObject* consumer : m_consumers)
        consumer->m_dataModified = true;
    return true;
}

void isFilterObject::updateInformation()
{
    beginInformationUpdate();
}

void isFilterObject::updateData()
{
    beginDataUpdate();
}

} // namespace isImageSDK
