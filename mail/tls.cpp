// TLS on a mail connection: the client's handshake, records sent and received, and the
// session's end, through Schannel.
#include "mail/tls.h"

#include "mail/exchange.h"
#include "mail/server.h"

#include <cstring>

// The security library's calls, filled at its first use: only a server that offers
// STARTTLS loads it. The workers of two alerts may fill it at once, with the same table.
static PSecurityFunctionTableA Sspi;

bool LoadSecurityLibrary()
{
    HMODULE library = Sspi ? nullptr : LoadLibraryA("secur32.dll");
    auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
        reinterpret_cast<void *>(library ? GetProcAddress(library, "InitSecurityInterfaceA") : nullptr));
    if (init)
        Sspi = init();
    return Sspi != nullptr;
}

// Windows checks the server's certificate unless told not to, and would offer the user's
// own certificate to a server that asks for one.
const ULONG TlsRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                         ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                         ISC_REQ_USE_SUPPLIED_CREDS;

// One step of the handshake, or of the session's end, with what the server sent (none
// at the first and the last); the message it makes for the server is sent at once.
static SECURITY_STATUS Step(MailJob *job, SecBufferDesc *input, bool *sent)
{
    TlsChannel &tls = job->tls;
    SecBuffer token = {0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc output = {SECBUFFER_VERSION, 1, &token};
    ULONG attributes;
    // The server's name lets a server with a certificate per name choose; an address is
    // no name.
    char *target = HoldsLetter(job->server) ? job->server : nullptr;
    CtxtHandle *context = tls.contextHeld ? &tls.context : nullptr;
    SECURITY_STATUS status = Sspi->InitializeSecurityContextA(&tls.credentials, context, target, TlsRequest, 0, 0,
                                                              input, 0, &tls.context, &output, &attributes, nullptr);
    if (!FAILED(status))
        tls.contextHeld = true;
    *sent = !token.pvBuffer || SendBytes(job, static_cast<const char *>(token.pvBuffer), token.cbBuffer);
    if (token.pvBuffer)
        Sspi->FreeContextBuffer(token.pvBuffer);
    return status;
}

// Leaves in holding plainLength bytes from plain, then the last sealedLength bytes that
// were held sealed: the start of the next record.
static void Keep(TlsChannel *tls, const void *plain, int plainLength, int sealedLength)
{
    int held = tls->sealed;
    memmove(tls->in, plain, plainLength);
    memmove(tls->in + plainLength, tls->in + held - sealedLength, sealedLength);
    tls->plain = plainLength;
    tls->sealed = sealedLength;
}

// Receives more of the server's records after those held, waiting until ms have passed
// since start.
static bool ReceiveSealed(MailJob *job, DWORD start, DWORD ms)
{
    TlsChannel &tls = job->tls;
    int held = tls.plain + tls.sealed;
    int got = ReceiveBytes(job, tls.in + held, TlsRecordSize - held, start, ms);
    if (got <= 0)
        return false;
    tls.sealed += got;
    return true;
}

bool StartTls(MailJob *job)
{
    TlsChannel &tls = job->tls;
    SCHANNEL_CRED wanted;
    memset(&wanted, 0, sizeof wanted);
    wanted.dwVersion = SCHANNEL_CRED_VERSION;
    wanted.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    wanted.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    tls.held = Sspi->AcquireCredentialsHandleA(nullptr, const_cast<char *>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
                                               &wanted, nullptr, nullptr, &tls.credentials, nullptr) == SEC_E_OK;
    if (!tls.held)
        return false;
    tls.plain = tls.sealed = 0;
    DWORD start = GetTickCount();
    bool sent;
    int askedForCertificate = 0;
    SECURITY_STATUS status = Step(job, nullptr, &sent);
    while (sent && status != SEC_E_OK) {
        // A record not yet whole, or the server's turn: more from the server. A server
        // that asks for the client's certificate gets none: the same records once more.
        if (status == SEC_E_INCOMPLETE_MESSAGE || (status == SEC_I_CONTINUE_NEEDED && tls.sealed == 0)) {
            if (!ReceiveSealed(job, start, job->limits.command))
                return false;
        } else if (status != SEC_I_CONTINUE_NEEDED &&
                   (status != SEC_I_INCOMPLETE_CREDENTIALS || askedForCertificate++ > 0)) {
            return false;
        }
        SecBuffer records[2] = {{static_cast<ULONG>(tls.sealed), SECBUFFER_TOKEN, tls.in},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc input = {SECBUFFER_VERSION, 2, records};
        status = Step(job, &input, &sent);
        if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
            Keep(&tls, tls.in, 0, records[1].BufferType == SECBUFFER_EXTRA ? records[1].cbBuffer : 0);
    }
    tls.up = sent && Sspi->QueryContextAttributesA(&tls.context, SECPKG_ATTR_STREAM_SIZES, &tls.sizes) == SEC_E_OK &&
             tls.sizes.cbHeader + tls.sizes.cbMaximumMessage + tls.sizes.cbTrailer <= TlsRecordSize;
    return tls.up;
}

bool SendTls(MailJob *job, const char *data, int length)
{
    TlsChannel &tls = job->tls;
    const SecPkgContext_StreamSizes &sizes = tls.sizes;
    while (length > 0) {
        ULONG piece = static_cast<ULONG>(length) < sizes.cbMaximumMessage ? length : sizes.cbMaximumMessage;
        char *body = tls.out + sizes.cbHeader;
        memcpy(body, data, piece);
        SecBuffer parts[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, tls.out},
                              {piece, SECBUFFER_DATA, body},
                              {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, body + piece},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc record = {SECBUFFER_VERSION, 4, parts};
        if (Sspi->EncryptMessage(&tls.context, 0, &record, 0) != SEC_E_OK ||
            !SendBytes(job, tls.out, parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer))
            return false;
        data += piece;
        length -= piece;
    }
    return true;
}

int ReceiveTls(MailJob *job, char *at, int room, DWORD start, DWORD ms)
{
    TlsChannel &tls = job->tls;
    while (tls.plain == 0) {
        SecBuffer parts[4] = {{static_cast<ULONG>(tls.sealed), SECBUFFER_DATA, tls.in},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr},
                              {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc record = {SECBUFFER_VERSION, 4, parts};
        SECURITY_STATUS status = tls.sealed > 0 ? Sspi->DecryptMessage(&tls.context, &record, 0, nullptr)
                                                : SEC_E_INCOMPLETE_MESSAGE;
        if (status == SEC_E_OK) {
            const SecBuffer *data = nullptr;
            int sealed = 0;
            for (const SecBuffer &part : parts) {
                if (part.BufferType == SECBUFFER_DATA)
                    data = &part;
                if (part.BufferType == SECBUFFER_EXTRA)
                    sealed = part.cbBuffer;
            }
            Keep(&tls, data ? data->pvBuffer : tls.in, data ? data->cbBuffer : 0, sealed);
        } else if (status != SEC_E_INCOMPLETE_MESSAGE || !ReceiveSealed(job, start, ms)) {
            // Also the server's close_notify, and a renegotiation, which no mail server asks for.
            return -1;
        }
    }
    int taken = room < tls.plain ? room : tls.plain;
    memcpy(at, tls.in, taken);
    tls.plain -= taken;
    memmove(tls.in, tls.in + taken, tls.plain + tls.sealed);
    return taken;
}

void EndTls(MailJob *job)
{
    TlsChannel &tls = job->tls;
    DWORD shutdown = SCHANNEL_SHUTDOWN;
    SecBuffer token = {sizeof shutdown, SECBUFFER_TOKEN, &shutdown};
    SecBufferDesc control = {SECBUFFER_VERSION, 1, &token};
    bool sent;
    // A server that is gone already misses the notice; nothing waits for an answer.
    if (tls.up && Sspi->ApplyControlToken(&tls.context, &control) == SEC_E_OK)
        Step(job, nullptr, &sent);
    if (tls.contextHeld)
        Sspi->DeleteSecurityContext(&tls.context);
    if (tls.held)
        Sspi->FreeCredentialsHandle(&tls.credentials);
    tls.up = tls.contextHeld = tls.held = false;
}
