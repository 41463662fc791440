// src/trackread/detail/XmlEvents.cpp: libxml2's push parser with a handler that builds nothing.
#include "trackread/detail/XmlEvents.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <array>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>

#include "trackread/TrackPoint.h"

namespace zeloro::trackread {

namespace {

struct ParserFree {
    void operator()(xmlParserCtxt* ctxt) const noexcept {
        if (ctxt->myDoc != nullptr) {
            xmlFreeDoc(ctxt->myDoc);
        }
        xmlFreeParserCtxt(ctxt);
    }
};
using ParserPtr = std::unique_ptr<xmlParserCtxt, ParserFree>;

std::string_view View(const xmlChar* text) noexcept {
    return text == nullptr ? std::string_view{} : std::string_view(reinterpret_cast<const char*>(text));
}

// The state the C callbacks share. A C++ exception must not cross libxml2's frames: a callback catches
// it, keeps it and stops the parser; it is thrown again once the parser has returned.
struct ParseState {
    XmlEventHandler& handler;
    xmlParserCtxt* ctxt = nullptr;
    std::exception_ptr thrown;
    int errorLine = 0;  // of the first error; 0 for none
    bool failed = false;
    bool sawElement = false;

    void Keep() noexcept {
        if (!thrown) {
            thrown = std::current_exception();
        }
        xmlStopParser(ctxt);
    }
};

ParseState& StateOf(void* ctx) noexcept {
    // The push parser's user data is the context itself (xmlCreatePushParserCtxt with a null user data
    // pointer would pass the context): the state is the _private slot.
    return *static_cast<ParseState*>(static_cast<xmlParserCtxt*>(ctx)->_private);
}

void OnStart(void* ctx, const xmlChar* localName, const xmlChar* /*prefix*/, const xmlChar* /*uri*/,
             int /*namespaceCount*/, const xmlChar** /*namespaces*/, int /*attributeCount*/,
             int /*defaulted*/, const xmlChar** /*attributes*/) {
    ParseState& state = StateOf(ctx);
    if (state.thrown) {
        return;
    }
    state.sawElement = true;
    try {
        state.handler.StartElement(View(localName));
    } catch (...) {
        state.Keep();
    }
}

void OnEnd(void* ctx, const xmlChar* /*localName*/, const xmlChar* /*prefix*/, const xmlChar* /*uri*/) {
    ParseState& state = StateOf(ctx);
    if (state.thrown) {
        return;
    }
    try {
        state.handler.EndElement();
    } catch (...) {
        state.Keep();
    }
}

void OnText(void* ctx, const xmlChar* text, int length) {
    ParseState& state = StateOf(ctx);
    if (state.thrown || length <= 0) {
        return;
    }
    try {
        state.handler.Text({reinterpret_cast<const char*>(text), static_cast<std::size_t>(length)});
    } catch (...) {
        state.Keep();
    }
}

void OnError(void* userData, xmlErrorPtr error) {
    auto* ctxt = static_cast<xmlParserCtxt*>(userData);
    if (error == nullptr || error->level < XML_ERR_ERROR || ctxt == nullptr || ctxt->_private == nullptr) {
        return;
    }
    ParseState& state = *static_cast<ParseState*>(ctxt->_private);
    if (!state.failed) {
        state.failed = true;
        state.errorLine = error->line;
    }
}

void Silent(void* /*ctx*/, const char* /*format*/, ...) {}

// Some of libxml2's messages (an encoding the input breaks, for one) bypass the parser's handler and go
// to the thread's generic handler, which writes to stderr: for the time of a read that is silenced, and
// the previous handler put back afterwards.
class GenericErrorsSilenced {
public:
    GenericErrorsSilenced() noexcept : handler_(xmlGenericError), context_(xmlGenericErrorContext) {
        xmlSetGenericErrorFunc(nullptr, Silent);
    }
    ~GenericErrorsSilenced() { xmlSetGenericErrorFunc(context_, handler_); }
    GenericErrorsSilenced(const GenericErrorsSilenced&) = delete;
    GenericErrorsSilenced& operator=(const GenericErrorsSilenced&) = delete;

private:
    xmlGenericErrorFunc handler_;
    void* context_;
};

}  // namespace

std::size_t StreamSource::Read(char* buffer, std::size_t size) {
    in_.read(buffer, static_cast<std::streamsize>(size));
    if (in_.bad()) {
        throw TrackFormatError("Die Datei kann nicht gelesen werden.");
    }
    return static_cast<std::size_t>(in_.gcount());
}

void ReadXmlEvents(ByteSource& source, XmlEventHandler& handler, std::string_view formatName) {
    constexpr std::size_t kChunk = 64 * 1024;
    const auto buffer = std::make_unique<std::array<char, kChunk>>();
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = OnStart;
    sax.endElementNs = OnEnd;
    sax.characters = OnText;
    sax.cdataBlock = OnText;
    sax.serror = OnError;

    ParseState state{handler, nullptr, nullptr, 0, false, false};
    // The first bytes tell the parser the encoding.
    std::size_t got = source.Read(buffer->data(), 4);
    if (got == 0) {
        throw TrackFormatError("Die " + std::string(formatName) + "-Datei ist leer.");
    }
    xmlInitParser();
    const GenericErrorsSilenced silenced;
    const ParserPtr ctxt(
        xmlCreatePushParserCtxt(&sax, nullptr, buffer->data(), static_cast<int>(got), nullptr));
    if (!ctxt) {
        throw std::bad_alloc();
    }
    state.ctxt = ctxt.get();
    ctxt->_private = &state;
    xmlCtxtUseOptions(ctxt.get(), XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);

    bool end = false;
    while (!state.thrown && !state.failed) {
        got = end ? 0 : source.Read(buffer->data(), kChunk);
        end = got == 0;
        xmlParseChunk(ctxt.get(), buffer->data(), static_cast<int>(got), end ? 1 : 0);
        if (end) {
            break;
        }
    }
    if (state.thrown) {
        std::rethrow_exception(state.thrown);
    }
    // An input error (bytes the encoding cannot have) may stop the parser without a word to the
    // handler; what was read before it must not pass for the whole file.
    if (state.failed || ctxt->wellFormed == 0 || ctxt->errNo != XML_ERR_OK || !state.sawElement) {
        const int line = state.errorLine > 0 ? state.errorLine : xmlSAX2GetLineNumber(ctxt.get());
        throw TrackFormatError("Die " + std::string(formatName) +
                               "-Datei ist kein wohlgeformtes XML (Zeile " + std::to_string(line) + ").");
    }
}

}  // namespace zeloro::trackread
