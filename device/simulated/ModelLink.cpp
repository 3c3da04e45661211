#include "device/simulated/ModelLink.h"

#include <cstring>

ModelLink::ModelLink (const ControllerModel& model)
{
    shared->model = model;
}

ModelLink::~ModelLink()
{
    close();
}

void ModelLink::open (HidHandler* handler)
{
    const juce::ScopedLock sl (shared->lock);
    shared->handler = handler;
    shared->connected = true;
}

void ModelLink::close()
{
    const juce::ScopedLock sl (shared->lock);
    shared->handler = nullptr;
    shared->connected = false;
}

void ModelLink::withModel (const std::function<void (ControllerModel&)>& f)
{
    const juce::ScopedLock sl (shared->lock);
    f (shared->model);
}

std::vector<ModelLink::Exchange> ModelLink::exchanges() const
{
    const juce::ScopedLock sl (shared->lock);
    return shared->log;
}

int ModelLink::takeInput (uint8_t* destination) noexcept
{
    const juce::ScopedLock sl (shared->lock);
    const auto length = shared->inputLength;

    if (length > 0)
    {
        std::memcpy (destination, shared->input.data(), (size_t) length);
        shared->input.fill (0);
        shared->inputLength = 0;
    }

    return length;
}

void ModelLink::deliverInput (Shared& s, const WireReport& reply)
{
    HidHandler* handler = nullptr;

    {
        const juce::ScopedLock sl (s.lock);

        if (! s.connected.load() || s.handler == nullptr)
            return;

        s.input = reply;
        s.inputLength = kReportSize;
        handler = s.handler;
    }

    // Outside the lock: the handler takes the input through takeInput().
    handler->hidInputReceived (0);
}

void ModelLink::post (const std::shared_ptr<Shared>& s, int delayMs, std::function<void (Shared&)> event)
{
    ++s->pending;

    // Posted first, so the delay's timer is made on the message thread.
    juce::MessageManager::callAsync ([s, delayMs, event = std::move (event)]
                                     {
                                         auto run = [s, event]
                                         {
                                             event (*s);
                                             --s->pending;
                                         };

                                         if (delayMs > 0)
                                             juce::Timer::callAfterDelay (delayMs, run);
                                         else
                                             run(); });
}

bool ModelLink::write (const uint8_t* report)
{
    ++shared->writes;

    if (! shared->connected.load())
        return false;

    ControllerModel::Outcome outcome;

    {
        const juce::ScopedLock sl (shared->lock);
        outcome = shared->model.handleRequest (report, (size_t) kReportSize);

        Exchange exchange;
        std::memcpy (exchange.request.data(), report, (size_t) kReportSize);
        exchange.replied = outcome.hasReply && ! outcome.removeDevice && outcome.extraDelayMs <= 0;
        exchange.reply = outcome.reply;
        shared->log.push_back (exchange);

        if (outcome.removeDevice)
        {
            // Off the bus at once: nothing more reaches the model until it returns.
            shared->connected = false;
            shared->model.powerCycle();
        }
    }

    if (outcome.removeDevice)
    {
        post (shared, 0, [] (Shared& s)
              {
                  HidHandler* handler = nullptr;
                  {
                      const juce::ScopedLock sl (s.lock);
                      handler = s.handler;
                  }
                  if (handler != nullptr)
                      handler->hidDeviceRemoved(); });

        if (outcome.replugAfterMs >= 0)
            post (shared, outcome.replugAfterMs, [] (Shared& s)
                  {
                      HidHandler* handler = nullptr;
                      {
                          const juce::ScopedLock sl (s.lock);
                          handler = s.handler;
                          s.connected = handler != nullptr;
                      }
                      if (handler != nullptr)
                          handler->hidDeviceArrived(); });

        return true;
    }

    if (! outcome.hasReply)
        return true;

    if (outcome.extraDelayMs > 0)
    {
        post (shared, outcome.extraDelayMs, [reply = outcome.reply] (Shared& s)
              { deliverInput (s, reply); });
        return true;
    }

    deliverInput (*shared, outcome.reply);

    // The second copy finds no request waiting, as a duplicate on the bus would.
    if (outcome.duplicate)
        deliverInput (*shared, outcome.reply);

    return true;
}
