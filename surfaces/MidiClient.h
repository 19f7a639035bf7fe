#pragma once

// A client of one MIDI system, as the panel's ports use it: one input and one output, listed and
// opened by index.
//
// Clients are made by the MIDI back end, a plugin of its own (RtMidi, and under it libjack,
// libasound and their own libraries) that MidiPorts loads the first time a port is bound: a panel
// without MIDI bindings never loads any of it, which keeps its start-up as light as before.
// The plugin is built with the panel from this header; the entry point's name carries a number
// that changes whenever this interface does.

#include <QString>
#include <QStringList>
#include <cstddef>

namespace Midi {

// What a client reports from the MIDI system's own threads.
class ClientEvents {
  public:
    virtual void messageArrived(const unsigned char *bytes, std::size_t size) = 0;
    // The server went away: the client is dead and is only to be destroyed.
    virtual void serverGone() = 0;

  protected:
    ~ClientEvents() = default;
};

class Client {
  public:
    virtual ~Client() = default;

    // "alsa" or "jack".
    virtual QString apiName() const = 0;
    // The ports as the system lists them now, in its order; an index is good until the next
    // listing.
    virtual QStringList inputPorts() = 0;
    virtual QStringList outputPorts() = 0;
    // True only when the port is open and the system reported no error doing it.
    virtual bool openInput(unsigned index) = 0;
    virtual bool openOutput(unsigned index) = 0;
    virtual void closeInput() = 0;
    virtual void closeOutput() = 0;
    virtual bool isInputOpen() const = 0;
    virtual bool isOutputOpen() const = 0;
    // False when the system refused the message.
    virtual bool send(const unsigned char *bytes, std::size_t size) = 0;
};

// The back end's one entry point: a client of the ALSA sequencer where one can be opened, else
// of a running JACK server (never starting one); nullptr with the reason when neither.
using OpenClient = Client *(*)(ClientEvents *events, QString *reason);
inline constexpr char kOpenClientSymbol[] = "ds_midi_open_client_1";

} // namespace Midi
