#include "text/SystemReason.h"

#include <cerrno>

namespace zs::text {

namespace {

struct Reason {
    int value;
    const char* text;
};

// The reasons a file, folder, process or connection of this program meets in practice,
// worded as glibc's own Italian messages word them.
constexpr Reason kReasons[] = {
    {EPERM, "Operazione non permessa"},
    {ENOENT, "File o directory inesistente"},
    {ESRCH, "Nessun processo corrisponde"},
    {EINTR, "Chiamata di sistema interrotta"},
    {EIO, "Errore di input/output"},
    {ENXIO, "Dispositivo o indirizzo inesistente"},
    {E2BIG, "Elenco degli argomenti troppo lungo"},
    {ENOEXEC, "Errore di formato di exec"},
    {EBADF, "Descrittore di file non valido"},
    {ECHILD, "Nessun processo figlio"},
    {EAGAIN, "Risorsa temporaneamente non disponibile"},
    {ENOMEM, "Impossibile allocare memoria"},
    {EACCES, "Permesso negato"},
    {EFAULT, "Indirizzo errato"},
    {EBUSY, "Dispositivo o risorsa occupata"},
    {EEXIST, "Il file esiste"},
    {EXDEV, "Collegamento tra dispositivi non valido"},
    {ENODEV, "Dispositivo inesistente"},
    {ENOTDIR, "Non è una directory"},
    {EISDIR, "È una directory"},
    {EINVAL, "Argomento non valido"},
    {ENFILE, "Troppi file aperti nel sistema"},
    {EMFILE, "Troppi file aperti"},
    {ETXTBSY, "File di testo occupato"},
    {EFBIG, "File troppo grande"},
    {ENOSPC, "Spazio esaurito sul dispositivo"},
    {ESPIPE, "Seek non consentito"},
    {EROFS, "File system in sola lettura"},
    {EMLINK, "Troppi collegamenti"},
    {EPIPE, "Pipe interrotta"},
    {ENAMETOOLONG, "Nome del file troppo lungo"},
    {ENOTEMPTY, "Directory non vuota"},
    {ELOOP, "Troppi livelli di collegamenti simbolici"},
    {EDQUOT, "Quota del disco superata"},
    {EADDRINUSE, "Indirizzo già in uso"},
    {EADDRNOTAVAIL, "Impossibile assegnare l'indirizzo richiesto"},
    {ENETDOWN, "La rete non è attiva"},
    {ENETUNREACH, "La rete non è raggiungibile"},
    {ECONNABORTED, "Connessione interrotta dal software"},
    {ECONNRESET, "Connessione azzerata dal corrispondente"},
    {ETIMEDOUT, "Connessione scaduta"},
    {ECONNREFUSED, "Connessione rifiutata"},
    {EHOSTDOWN, "L'host non è attivo"},
    {EHOSTUNREACH, "Nessun instradamento per l'host"},
};

} // namespace

std::string systemReason(int errnoValue)
{
    for (const Reason& r : kReasons)
        if (r.value == errnoValue)
            return r.text;
    return "errore di sistema " + std::to_string(errnoValue);
}

std::string systemReason(const std::error_code& ec)
{
    if (ec.category() == std::system_category() || ec.category() == std::generic_category())
        return systemReason(ec.value());
    return ec.message();
}

} // namespace zs::text
