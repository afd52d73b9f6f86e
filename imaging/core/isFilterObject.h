// isFilterObject: a stage of the demand-driven imaging pipeline.
//
// Each object has a producer (its input, or null), an output it fills (created on first
// demand) and the consumers that take it as their producer. Two dirty flags, one for
// information (geometry, pixel type, sizes) and one for data (pixel values), say what must be
// recomputed; setters only set flags, and work happens when a consumer asks (update()).
//
// Ownership: an object retains its producer, except when it is that producer's own output
// (an image never retains the filter that fills it, so the two hold no cycle). A filter owns
// its output with one reference and releases it in clear(). Consumers are not retained.
#pragma once

#include "isObject.h"

#include <vector>

namespace isImageSDK {

class isFilterObject : public isObject {
public:
    static isFilterObject* create();

    isFilterObject() = default;
    ~isFilterObject() override;

    // Detaches from the producer, drops the output, clears both flags and the consumer list.
    void clear() override;
    bool init() override;

    // The output, created by createOutput() on first demand (null for an image).
    virtual isFilterObject* getOutput();
    // Connects this object to a new producer (null disconnects); sets both flags unless the
    // producer is unchanged.
    virtual void setInput(isFilterObject* input);
    // Brings the information up to date when this object or its producer chain is modified.
    virtual void updateInformation();
    // True only for the file readers at the head of a chain.
    virtual bool isReader() { return false; }
    // Brings the data up to date when this object or its producer chain is modified.
    virtual void updateData();
    // Creates a plain output object that has this one as its producer.
    virtual void createOutput();

    // This object's flag, or else its producer chain's answer.
    bool isInformationModified() const;
    bool isDataModified() const;
    // The entry point of consumers: updates the whole chain from its source downward and
    // recomputes only what the flags ask for; creates a missing output.
    void update();

    // Owners that change a parameter of a stage mark it modified through these.
    void setInformationModified(bool modified) { m_informationModified = modified; }
    void setDataModified(bool modified) { m_dataModified = modified; }
    void setModified() { m_informationModified = m_dataModified = true; }
    bool getInformationModifiedFlag() const { return m_informationModified; }
    bool getDataModifiedFlag() const { return m_dataModified; }

    isFilterObject* getProducer() const { return m_producer; }
    const std::vector<isFilterObject*>& getConsumers() const { return m_consumers; }

protected:
    // The output pointer as it stands, without creating one.
    isFilterObject* peekOutput() const { return m_output; }
    // The early return and flag handling shared by every updateInformation(): returns false
    // when nothing is modified; otherwise updates the producer's information, clears this
    // object's flag, marks every consumer modified and returns true.
    bool beginInformationUpdate();
    // The same for data; also makes sure the output exists.
    bool beginDataUpdate();
    void detachFromProducer();

    bool m_informationModified = false;
    bool m_dataModified = false;
    isFilterObject* m_producer = nullptr;
    isFilterObject* m_output = nullptr;
    std::vector<isFilterObject*> m_consumers;
};

} // namespace isImageSDK
