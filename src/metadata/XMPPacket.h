// src/metadata/XMPPacket.h: the XMP packet of a photo, its schemas and properties, read and written as
// RDF/XML.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/DateTime.h"
#include "common/Error.h"
#include "metadata/Streams.h"

namespace zeloro {

// "XMP packet is not valid"
class EInvalidXMPPacket : public Error {
public:
    EInvalidXMPPacket() : Error(kMessage) {}
    using Error::Error;
    static constexpr const char* kMessage = "XMP packet is not valid";
};

// An operation the property's kind does not allow; what() names the rule that was broken.
class EInvalidXMPOperation : public Error {
public:
    using Error::Error;
};

inline constexpr const char* kXMPSchemaPrefixMissing =
    "The schema's PreferredPrefix property must be set before a new item can be added";
inline constexpr const char* kXMPNoSubProperties = "Property type does not support sub-properties";
inline constexpr const char* kXMPSubPropertiesMustBeNamed = "Sub-properties must be named";
inline constexpr const char* kXMPSingleValueToStructure =
    "Cannot assign a single value to a structure property";

enum TXMPWritePolicy : std::uint8_t { xwAlwaysUpdate, xwUpdateIfExists, xwRemove };

enum TXMPSchemaKind : std::uint8_t {
    xsUnknown,
    xsCameraRaw,
    xsDublinCore,
    xsExif,
    xsMicrosoftPhoto,
    xsPDF,
    xsPhotoshop,
    xsTIFF,
    xsXMPBasic,
    xsXMPBasicJobTicket,
    xsXMPDynamicMedia,
    xsXMPMediaManagement,
    xsXMPPagedText,
    xsXMPRights
};
// The kinds with a fixed namespace: xsCameraRaw .. xsXMPRights.
using TXMPKnownSchemaKind = TXMPSchemaKind;

enum TXMPPropertyKind : std::uint8_t { xpSimple, xpStructure, xpAltArray, xpBagArray, xpSeqArray };

inline constexpr std::string_view kRDFNamespace = "http://www.w3.org/1999/02/22-rdf-syntax-ns#";
inline constexpr std::string_view kXMLNSNamespace = "http://www.w3.org/2000/xmlns/";
// What an APP1 payload holding an XMP packet starts with: the XMP Basic namespace and a zero byte.
inline constexpr std::string_view kXMPSegmentHeader{"http://ns.adobe.com/xap/1.0/\0", 29};

// Namespace URI and preferred prefix of a known schema kind; both empty for xsUnknown.
[[nodiscard]] std::string_view XMPSchemaURI(TXMPSchemaKind kind) noexcept;
[[nodiscard]] std::string_view XMPSchemaPrefix(TXMPSchemaKind kind) noexcept;

class TXMPPacket;
class TXMPSchema;

// One property or sub-property. Structures and alternative arrays hold named sub-properties (an
// alternative array's item name is its language), bags and sequences unnamed items.
class TXMPProperty {
public:
    // Owned by its schema (no parent) or by its parent property; both must outlive it.
    TXMPProperty(TXMPSchema& schema, TXMPProperty* parentProperty, std::string name = {});
    ~TXMPProperty();
    TXMPProperty(const TXMPProperty&) = delete;
    TXMPProperty& operator=(const TXMPProperty&) = delete;

    [[nodiscard]] TXMPPropertyKind Kind() const noexcept { return FKind; }
    // Becoming simple drops the sub-properties; becoming a bag or sequence clears the item names;
    // becoming a structure or alternative array names unnamed items "SubProp%d" by their index.
    void SetKind(TXMPPropertyKind value);
    [[nodiscard]] const std::string& Name() const noexcept { return FName; }
    void SetName(std::string_view value);
    [[nodiscard]] TXMPProperty* ParentProperty() const noexcept { return FParentProperty; }
    [[nodiscard]] TXMPSchema& Schema() const noexcept { return *FSchema; }

    [[nodiscard]] int SubPropertyCount() const noexcept { return static_cast<int>(FSubProperties.size()); }
    // Grows with new empty items (named "SubProp%d" where names are needed) or cuts from the end.
    // Raises EInvalidXMPOperation on a simple property.
    void SetSubPropertyCount(int value);
    // Index 0 .. SubPropertyCount() - 1; anything else raises RangeError.
    [[nodiscard]] TXMPProperty& SubProperties(int index) const;
    // Raises EInvalidXMPOperation on a simple property, and for an empty name on a structure or
    // alternative array.
    TXMPProperty& AddSubProperty(std::string_view name);
    // Case-sensitive name; nullptr when there is none.
    [[nodiscard]] TXMPProperty* FindSubProperty(std::string_view name) const;
    bool FindSubProperty(std::string_view name, TXMPProperty*& prop) const;
    bool RemoveSubProperty(std::string_view name);

    // The value of a simple property ("True"/"False" for the Boolean form, decimal for the integer
    // form); the default when the text does not convert.
    [[nodiscard]] const std::string& ReadValue() const noexcept { return FValue; }
    [[nodiscard]] std::string ReadValue(std::string_view defValue) const;
    [[nodiscard]] std::string ReadValue(const char* defValue) const {
        return ReadValue(std::string_view(defValue));
    }
    [[nodiscard]] int ReadValue(int defValue) const;
    [[nodiscard]] bool ReadValue(bool defValue) const;

    // Simple: the value; alternative array: its "x-default" item (added when missing); bag or
    // sequence: one item per part between "," and ";"; structure: EInvalidXMPOperation.
    void WriteValue(std::string_view value);
    void WriteValue(const char* value) { WriteValue(std::string_view(value)); }
    void WriteValue(int value);
    void WriteValue(bool value);

    // Find or add the named sub-property, give it the kind and write the value.
    void UpdateSubProperty(std::string_view name, TXMPPropertyKind kind, std::string_view value);
    void UpdateSubProperty(std::string_view name, std::string_view value);
    void UpdateSubProperty(std::string_view name, const char* value) {
        UpdateSubProperty(name, std::string_view(value));
    }
    void UpdateSubProperty(std::string_view name, int value);
    void UpdateSubProperty(std::string_view name, bool value);

    [[nodiscard]] auto begin() const noexcept { return FSubProperties.begin(); }
    [[nodiscard]] auto end() const noexcept { return FSubProperties.end(); }

private:
    friend class TXMPPacket;
    friend class TXMPSchema;
    friend struct XMPReader;
    friend void WriteXMPText(const TXMPPacket& packet, std::string& out);
    void Changed();
    [[nodiscard]] bool NeedsNamedItems() const noexcept {
        return FKind == xpStructure || FKind == xpAltArray;
    }

    TXMPPropertyKind FKind = xpSimple;
    std::string FName;
    TXMPProperty* FParentProperty;
    TXMPSchema* FSchema;
    std::vector<std::unique_ptr<TXMPProperty>> FSubProperties;
    std::string FValue;
    // A property read from a photo with content this model does not hold (structured array items,
    // qualifiers, parse-type forms) keeps its element as read, namespaces declared on it; a generated
    // packet writes that instead of the model's form until the property changes, so nothing is lost.
    std::string FSourceXML;
};

// The properties of one namespace.
class TXMPSchema {
public:
    // A known URI gives its kind and prefix; any other URI xsUnknown with an empty prefix.
    TXMPSchema(TXMPPacket& owner, std::string_view uri);
    ~TXMPSchema();
    TXMPSchema(const TXMPSchema&) = delete;
    TXMPSchema& operator=(const TXMPSchema&) = delete;

    [[nodiscard]] TXMPSchemaKind Kind() const noexcept { return FKind; }
    [[nodiscard]] TXMPPacket& Owner() const noexcept { return *FOwner; }
    [[nodiscard]] const std::string& PreferredPrefix() const noexcept { return FPreferredPrefix; }
    void SetPreferredPrefix(std::string_view value);
    [[nodiscard]] int PropertyCount() const noexcept { return static_cast<int>(FProperties.size()); }
    // Index 0 .. PropertyCount() - 1; anything else raises RangeError.
    [[nodiscard]] TXMPProperty& Properties(int index) const;
    [[nodiscard]] const std::string& URI() const noexcept { return FURI; }

    // Raises EInvalidXMPOperation while the schema has no prefix.
    TXMPProperty& AddProperty(std::string_view name);
    // Case-sensitive name; nullptr when there is none.
    [[nodiscard]] TXMPProperty* FindProperty(std::string_view name) const;
    bool FindProperty(std::string_view name, TXMPProperty*& prop) const;
    bool RemoveProperty(std::string_view name);
    // True when at least one of the names was there.
    bool RemoveProperties(std::span<const std::string_view> names);

    [[nodiscard]] auto begin() const noexcept { return FProperties.begin(); }
    [[nodiscard]] auto end() const noexcept { return FProperties.end(); }

private:
    friend class TXMPPacket;
    friend class TXMPProperty;
    friend struct XMPReader;
    void Changed();

    TXMPSchemaKind FKind;
    TXMPPacket* FOwner;
    std::string FPreferredPrefix;
    std::vector<std::unique_ptr<TXMPProperty>> FProperties;
    std::string FURI;
};

class TXMPPacket {
public:
    using TNotifyEvent = std::function<void(TXMPPacket& sender)>;
    // Called with the packet and the bytes that failed to load.
    using TLoadErrorEvent = std::function<void(TXMPPacket& sender, std::span<const std::uint8_t> data)>;

    TXMPPacket();
    virtual ~TXMPPacket();
    TXMPPacket(const TXMPPacket&) = delete;
    TXMPPacket& operator=(const TXMPPacket&) = delete;

    // Another packet: its text loaded into this one, and its WriteSegmentHeader; nullptr: Clear.
    virtual void Assign(const TXMPPacket* source);

    // True when the payload of an APP1 segment starts with kXMPSegmentHeader.
    [[nodiscard]] static bool HasSegmentHeader(std::span<const std::uint8_t> payload) noexcept;

    [[nodiscard]] const std::string& AboutAttributeValue() const noexcept { return FAboutAttributeValue; }
    void SetAboutAttributeValue(std::string_view value);
    // The packet text as last read or written (no segment header). When the model changed since, the text
    // read with only the changed values replaced, or a generated packet where that cannot be done.
    [[nodiscard]] const std::string& RawXML() const;
    // Loads the packet from the text; an empty text clears it. An unreadable text goes to the
    // load-error handler.
    void SetRawXML(std::string_view value);

    [[nodiscard]] bool Empty() const noexcept { return FSchemas.empty(); }
    [[nodiscard]] int SchemaCount() const noexcept { return static_cast<int>(FSchemas.size()); }
    // In namespace order (ascending, ignoring case); index out of range raises RangeError.
    [[nodiscard]] TXMPSchema& Schemas(int index) const;
    [[nodiscard]] auto begin() const noexcept { return FSchemas.begin(); }
    [[nodiscard]] auto end() const noexcept { return FSchemas.end(); }

    [[nodiscard]] TXMPWritePolicy UpdatePolicy() const noexcept { return FUpdatePolicy; }
    void SetUpdatePolicy(TXMPWritePolicy value) noexcept { FUpdatePolicy = value; }
    [[nodiscard]] bool WriteSegmentHeader() const noexcept { return FWriteSegmentHeader; }
    void SetWriteSegmentHeader(bool value) noexcept { FWriteSegmentHeader = value; }
    [[nodiscard]] const TNotifyEvent& OnChange() const noexcept { return FOnChange; }
    void SetOnChange(TNotifyEvent handler) { FOnChange = std::move(handler); }
    [[nodiscard]] const TLoadErrorEvent& OnLoadError() const noexcept { return FOnLoadError; }
    void SetOnLoadError(TLoadErrorEvent handler) { FOnLoadError = std::move(handler); }

    // Reads a packet, with or without the segment header in front. False when the bytes do not
    // parse as XML or hold no RDF element; the packet is then left exactly as it was.
    bool TryLoadFromStream(std::span<const std::uint8_t> data);
    // The same over the bytes from the stream's position to its end.
    bool TryLoadFromStream(Stream& stream);
    // TryLoadFromStream; a failure goes to the load-error handler (EInvalidXMPPacket without one).
    void LoadFromStream(std::span<const std::uint8_t> data);
    void LoadFromStream(Stream& stream);
    // FileError when the file cannot be opened or read.
    void LoadFromFile(const std::string& fileName);
    // The first APP1 segment of the file that carries an XMP packet; none clears the packet and
    // gives false. EInvalidJPEGHeader for a file that is not a JPEG.
    bool LoadFromJPEG(const std::string& jpegFileName);
    // Appends the packet text (with the segment header when WriteSegmentHeader is set).
    void SaveToStream(std::vector<std::uint8_t>& out) const;
    // Writes at the stream's position; StreamError on a short write.
    void SaveToStream(Stream& stream) const;
    // FileError when the file cannot be created or written.
    void SaveToFile(const std::string& fileName) const;

    // Removes every schema and the about value; a change only when something was there.
    void Clear();
    // Lookup without creation; the URI is compared ignoring case.
    [[nodiscard]] TXMPSchema* FindSchema(std::string_view uri) const;
    [[nodiscard]] TXMPSchema* FindSchema(TXMPKnownSchemaKind kind) const;
    bool FindSchema(std::string_view uri, TXMPSchema*& schema) const;
    bool FindSchema(TXMPKnownSchemaKind kind, TXMPSchema*& schema) const;
    // The schema of the namespace, added when missing (a change); a namespace of no known kind comes
    // without a prefix, which must be set before a property is added.
    TXMPSchema& FindOrAddSchema(std::string_view uri);

    // The update rules under UpdatePolicy(): xwRemove or an empty value removes the property,
    // xwUpdateIfExists changes only a property that is there, xwAlwaysUpdate creates what is missing.
    void UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName, TXMPPropertyKind propKind,
                        std::string_view newValue);
    void UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName, std::string_view newValue);
    void UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName, const char* newValue) {
        UpdateProperty(schemaKind, propName, std::string_view(newValue));
    }
    void UpdateProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName, int newValue);
    void UpdateBagProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                           std::string_view singleValue);
    void UpdateBagProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                           std::span<const std::string> newValues);
    void UpdateSeqProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                           std::string_view singleValue);
    void UpdateSeqProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                           std::span<const std::string> newValues);
    // "yyyy-mm-ddThh:nn:ss.zzz" and "Z", or the local offset "+hh:nn"/"-hh:nn" when applyLocalBias is
    // set and the local zone is not UTC; a zero value removes the property.
    void UpdateDateTimeProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                                DateTimeValue newValue, bool applyLocalBias);
    // True when something was removed.
    bool RemoveProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName);
    bool RemoveProperties(TXMPKnownSchemaKind schemaKind, std::span<const std::string_view> propNames);

protected:
    // Every change of content ends here: drops the raw-XML cache when asked, then OnChange.
    virtual void Changed(bool resetXMLCache = true);
    // OnLoadError when assigned, otherwise EInvalidXMPPacket.
    virtual void DoLoadError(std::span<const std::uint8_t> data);

private:
    friend class TXMPSchema;
    friend class TXMPProperty;
    friend struct XMPReader;
    void DoUpdateProperty(TXMPWritePolicy policy, TXMPKnownSchemaKind schemaKind, std::string_view propName,
                          TXMPPropertyKind propKind, std::string_view newValue);
    void UpdateArrayProperty(TXMPKnownSchemaKind schemaKind, std::string_view propName,
                             TXMPPropertyKind arrayKind, std::span<const std::string> newValues);

    std::string FAboutAttributeValue;
    mutable std::string FRawXMLCache;
    // The packet text as read from the photo (zero bytes kept): a changed packet is written as this text
    // with only the changed values replaced, where that can be done.
    std::string FSourceText;
    std::vector<std::unique_ptr<TXMPSchema>> FSchemas;  // sorted by URI, ignoring case
    TXMPWritePolicy FUpdatePolicy = xwAlwaysUpdate;
    bool FWriteSegmentHeader = false;
    TNotifyEvent FOnChange;
    TLoadErrorEvent FOnLoadError;
};

// The packet an EXIF container owns. It starts with the policy "update if it exists", so that tagging
// never adds a property that was not already there.
class TContainedXMPPacket : public TXMPPacket {
public:
    TContainedXMPPacket() { SetUpdatePolicy(xwUpdateIfExists); }
};

}  // namespace zeloro
