// The exported OES interface of liboesprovider, as the document reader calls
// it. Result codes: 0 success, otherwise the codes of the message table.
#pragma once

#include "OesProvider.h"

extern "C" {

OES_EXPORT int OES_GetProviderInfo(unsigned char* name, int* nameLength, unsigned char* company,
                                   int* companyLength, unsigned char* version, int* versionLength,
                                   unsigned char* extend, int* extendLength);

OES_EXPORT int OES_GetSealList(unsigned char* list, int* listLength);

OES_EXPORT int OES_GetSeal(unsigned char* sealId, int sealIdLength, unsigned char* seal,
                           int* sealLength);

OES_EXPORT int OES_GetSealInfo(unsigned char* seal, int sealLength, unsigned char* sealId,
                               int* sealIdLength, unsigned char* version, int* versionLength,
                               unsigned char* vendorId, int* vendorIdLength,
                               unsigned char* sealType, int* sealTypeLength,
                               unsigned char* sealName, int* sealNameLength, unsigned char* cert,
                               int* certLength, unsigned char* validStart, int* validStartLength,
                               unsigned char* validEnd, int* validEndLength,
                               unsigned char* createDate, int* createDateLength,
                               unsigned char* signerName, int* signerNameLength,
                               unsigned char* signMethod, int* signMethodLength);

OES_EXPORT int OES_GetSealImage(unsigned char* seal, int sealLength, int renderFlag,
                                unsigned char* picture, int* pictureLength, int* width,
                                int* height);

OES_EXPORT int OES_GetSignDateTime(unsigned char* time, int* timeLength);

OES_EXPORT int OES_GetSignMethod(unsigned char* method, int* methodLength);

OES_EXPORT int OES_GetDigestMethod(unsigned char* method, int* methodLength);

OES_EXPORT int OES_Digest(unsigned char* data, int dataLength, unsigned char* method,
                          int methodLength, unsigned char* digest, int* digestLength);

OES_EXPORT int OES_Sign(unsigned char* sealId, int sealIdLength, unsigned char* docProperty,
                        int docPropertyLength, unsigned char* digest, int digestLength,
                        unsigned char* signMethod, int signMethodLength, unsigned char* signTime,
                        int signTimeLength, unsigned char* signature, int* signatureLength);

// Arguments after the signature are not read (readers may pass an online flag).
OES_EXPORT int OES_Verify(unsigned char* seal, int sealLength, unsigned char* docProperty,
                          int docPropertyLength, unsigned char* digest, int digestLength,
                          unsigned char* signMethod, int signMethodLength, unsigned char* signTime,
                          int signTimeLength, unsigned char* signature, int signatureLength);

OES_EXPORT int OES_GetSignInfo(unsigned char* signature, int signatureLength,
                               unsigned char* version, int* versionLength, unsigned char* seal,
                               int* sealLength, unsigned char* signTime, int* signTimeLength,
                               unsigned char* digest, int* digestLength, unsigned char* docProperty,
                               int* docPropertyLength, unsigned char* cert, int* certLength,
                               unsigned char* signMethod, int* signMethodLength,
                               unsigned char* signValue, int* signValueLength);

OES_EXPORT int OES_GetSignImage(unsigned char* signature, int signatureLength, int renderFlag,
                                unsigned char* picture, int* pictureLength, int* width,
                                int* height);

OES_EXPORT int OES_CancelSeal(unsigned char* signature, int signatureLength);

OES_EXPORT int OES_GetErrMessage(unsigned long code, unsigned char* message, int* messageLength);

}  // extern "C"
